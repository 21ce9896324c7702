#pragma once
// Tells the owner when MIDI devices come or go: on a thread of its own it
// compares the backend's input and output port lists with the last look, about
// once a second, and calls the callback when either list changed.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_backend.h"

namespace corvane::midi {

class PortWatcher {
public:
    // Called on the watcher's thread; it must not Stop or destroy the watcher.
    using Callback = std::function<void()>;

    PortWatcher(MidiBackend& backend, Callback onDevicesChanged,
                std::chrono::milliseconds period = std::chrono::seconds(1));
    ~PortWatcher();
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Takes the first look at once, on the calling thread, so that any change
    // after Start is reported. Does nothing when already running.
    void Start();
    // Returns once the thread has ended; no callback runs after that.
    void Stop();

private:
    struct Lists {
        std::vector<std::string> inputs;
        std::vector<std::string> outputs;
        bool operator==(const Lists&) const = default;
    };
    Lists Look() const;
    void Run(Lists last);

    MidiBackend& m_backend;
    const Callback m_onDevicesChanged;
    const std::chrono::milliseconds m_period;

    std::mutex m_mutex;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // touched only by the owning thread
};

}  // namespace corvane::midi
