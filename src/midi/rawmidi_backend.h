#pragma once
// Hardware MIDI ports on Linux through ALSA's raw MIDI devices. The sequencer
// hands a System Exclusive message to a hardware port's buffer in one go and
// drops what does not fit; raw MIDI writes block until the driver has taken
// every byte, so block writes of several kilobytes arrive whole.
//
// Every raw MIDI subdevice of every sound card is a port, named as its card
// names itself (a USB device: its product string).

#include <memory>
#include <string>
#include <vector>

#include "midi/midi_backend.h"
#include "midi/port_source.h"

namespace corvane::midi {

struct RawMidiPort {
    std::string name;     // the card's name
    std::string address;  // "hw:CARD,DEVICE,SUBDEVICE"
    int card = -1;
};

// The ports of every card in card and device order; empty without sound cards.
std::vector<RawMidiPort> RawMidiInputs();
std::vector<RawMidiPort> RawMidiOutputs();

// The raw MIDI ports as a part of the system backend.
std::unique_ptr<PortSource> CreateRawMidiSource();

// Null when the port does not exist or another program holds it.
std::unique_ptr<OutputConnection> OpenRawMidiOutput(const std::string& address);
// The handler gets each whole System Exclusive message on the connection's own
// thread. When the port vanishes the thread ends and nothing more arrives.
std::unique_ptr<InputConnection> OpenRawMidiInput(const std::string& address, InputHandler handler);

}  // namespace corvane::midi
