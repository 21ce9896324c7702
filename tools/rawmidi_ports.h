#pragma once
// The simulated device's ports on a raw MIDI device of this machine: one it
// finds by path or name, or the gadget side of a USB link. What lies under the
// port (a link) appears when the device attaches and goes when it detaches, so
// that on a USB gadget a restart is a real disconnect.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "midi/midi_backend.h"
#include "tools/counted_ports.h"

namespace corvane::tools {

// The raw MIDI addresses of the device's input and output.
struct RawMidiAddresses {
    std::string input;
    std::string output;
};

class RawMidiLink {
public:
    virtual ~RawMidiLink() = default;
    // Makes the port there; nullopt (after a line on stderr) when it is not.
    virtual std::optional<RawMidiAddresses> Appear() = 0;
    // Takes it away again once both ports are closed.
    virtual void Disappear() = 0;
};

// A raw MIDI port that is already there: "/dev/snd/midiC1D0", "hw:1,0,0" or
// the name under which the updater lists it.
std::unique_ptr<RawMidiLink> ExistingRawMidiPort(std::string port);

class RawMidiPorts final : public CountedPorts {
public:
    explicit RawMidiPorts(std::unique_ptr<RawMidiLink> link) : m_link(std::move(link)) {}
    ~RawMidiPorts() override;
    RawMidiPorts(const RawMidiPorts&) = delete;
    RawMidiPorts& operator=(const RawMidiPorts&) = delete;

    bool Attach(const std::string& name, Receiver receiver) override;
    void Detach() override;
    bool Send(midi::ByteView message) override;
    std::uint64_t SendCount() const override { return m_sends; }

private:
    // Touched only by the device's own thread (and its owner before and after it).
    const std::unique_ptr<RawMidiLink> m_link;
    std::unique_ptr<midi::InputConnection> m_input;
    std::unique_ptr<midi::OutputConnection> m_output;
    bool m_linked = false;
    std::atomic<std::uint64_t> m_sends{0};
};

}  // namespace corvane::tools
