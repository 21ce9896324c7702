#pragma once
// Tells the owner when MIDI devices come or go: on a thread of its own it
// compares the backend's input and output port lists with the last look, about
// once a second, and calls the callback when either list changed or when a
// device the owner holds open has reported itself gone since the last look.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "midi/midi_backend.h"
#include "midi/port_list_snapshot.h"

namespace corvane::midi {

class PortWatcher {
public:
    // Called on the watcher's thread; it must not Stop or destroy the watcher.
    using Callback = std::function<void()>;
    // Whether a port the owner holds open has reported its device gone; asked
    // on the watcher's thread. A device that goes and comes back between two
    // looks leaves the lists as they were, but not its open ports.
    using HeldGone = std::function<bool()>;

    PortWatcher(MidiBackend& backend, Callback onDevicesChanged,
                std::chrono::milliseconds period = std::chrono::seconds(1), HeldGone heldGone = {});
    ~PortWatcher();
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Takes the first look at once, on the calling thread, so that any change
    // after Start is reported. Does nothing when already running.
    void Start();
    // Returns once the thread has ended; no callback runs after that.
    void Stop();

private:
    // The first look is taken by Start and then used by the thread alone.
    void Run(PortListSnapshot ports, bool wasGone);
    bool HeldPortGone() const;

    MidiBackend& m_backend;
    const Callback m_onDevicesChanged;
    const std::chrono::milliseconds m_period;
    const HeldGone m_heldGone;

    std::mutex m_mutex;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // touched only by the owning thread
};

}  // namespace corvane::midi
