#pragma once
// RtMidi's ports as this program's connections: RtMidi's errors reported to a
// sink instead of thrown or printed, System Exclusive input handed to a
// handler until the port closes, and sends that return once RtMidi has taken
// the whole message. Shared by the system backend and the virtual ports.

#include <RtMidi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "midi/midi_backend.h"

namespace corvane::midi {

// RtMidi reports here instead of printing to stderr or throwing: an operation
// failed when anything was reported while it ran. Atomic because RtMidi's own
// input thread may report too.
struct ErrorSink {
    std::atomic<bool> reported{false};
};

void OnRtMidiError(RtMidiError::Type type, const std::string& text, void* user);

template <typename Port>
std::unique_ptr<Port> MakePort(RtMidi::Api api, const std::string& clientName, ErrorSink& sink) {
    auto port = std::make_unique<Port>(api, clientName);
    port->setErrorCallback(OnRtMidiError, &sink);
    return port;
}

bool Compiled(RtMidi::Api api);

// Hands System Exclusive messages to the handler until closed. The lock makes
// closing wait for a delivery in progress.
struct InputState {
    std::mutex mutex;  // guards open and handler; held while the handler runs
    bool open = true;
    InputHandler handler;
};

std::unique_ptr<RtMidiIn> MakeInput(RtMidi::Api api, const std::string& clientName, ErrorSink& sink,
                                    InputState& state);

// Blocks until RtMidi has taken the whole message.
bool SendThrough(RtMidiOut& port, ErrorSink& sink, ByteView message);

std::unique_ptr<OutputConnection> MakeOutputConnection(std::unique_ptr<ErrorSink> sink,
                                                       std::unique_ptr<RtMidiOut> port);
std::unique_ptr<InputConnection> MakeInputConnection(std::unique_ptr<InputState> state,
                                                     std::unique_ptr<ErrorSink> sink,
                                                     std::unique_ptr<RtMidiIn> port);

}  // namespace corvane::midi
