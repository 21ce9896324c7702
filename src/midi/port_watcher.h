#pragma once
// Tells the owner when MIDI devices come or go: on a thread of its own it
// looks at the port directory about once a second and calls the callback with
// the ports added and removed since the last look, or with none when only a
// device the owner holds open has reported itself gone since the last look.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "midi/port_directory.h"

namespace corvane::midi {

class PortWatcher {
public:
    // Called on the watcher's thread; it must not Stop or destroy the watcher.
    using Callback = std::function<void(const std::vector<PortChange>&)>;
    // Whether a port the owner holds open has reported its device gone; asked
    // on the watcher's thread. A device that goes and comes back between two
    // looks leaves the lists as they were, but not its open ports.
    using HeldGone = std::function<bool()>;

    PortWatcher(PortDirectory& ports, Callback onDevicesChanged,
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
    void Run(PortSnapshot last, bool wasGone);
    bool HeldPortGone() const;

    PortDirectory& m_ports;
    const Callback m_onDevicesChanged;
    const std::chrono::milliseconds m_period;
    const HeldGone m_heldGone;

    std::mutex m_mutex;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // touched only by the owning thread
};

}  // namespace corvane::midi
