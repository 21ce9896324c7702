#pragma once
// A device model brought to life on a pair of MIDI ports: what the updater
// sends is queued and handled on the device's own thread (never on the
// sender's, which holds its output lock while sending), answers go out when
// their delay has passed, and the ports vanish and come back when the model
// says so. Everything it exposes is safe to read from any thread.

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "device/device_model.h"
#include "device/device_ports.h"

namespace corvane::device {

class SimulatedDevice {
public:
    // Attaches the ports at once and starts the device's thread.
    SimulatedDevice(DeviceConfig config, std::unique_ptr<DevicePorts> ports);
    // Stops the thread, drops answers not yet sent and detaches the ports.
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    midi::Bytes Flash() const;
    DeviceCounters Counters() const;
    std::vector<std::string> Transcript() const;
    bool InUpdateMode() const;
    // Whether the ports are there (false while the device has vanished).
    bool IsPresent() const;

    // Wait until the device has handled at least `count` requests of `kind`,
    // or until its ports are (or are not) there; false on time-out.
    bool WaitForRequests(RequestKind kind, int count, Millis timeout);
    bool WaitForPresence(bool present, Millis timeout);

private:
    using Clock = std::chrono::steady_clock;
    enum class EventType { kSend, kVanish, kComeBack };
    struct Event {
        EventType type = EventType::kSend;
        midi::Bytes message;  // kSend
        Millis away{0};       // kVanish
    };
    // Ordered by due time, then by the order they were scheduled in.
    using EventKey = std::pair<Clock::time_point, std::uint64_t>;

    void OnReceived(midi::ByteView message);
    void Run();
    void Process(const midi::Bytes& message);
    void Execute(const Event& event);
    void Schedule(Clock::time_point at, Event event);  // needs m_mutex
    void Attach();

    const std::string m_portName;
    const std::unique_ptr<DevicePorts> m_ports;  // used on the device's thread only

    mutable std::mutex m_modelMutex;  // guards m_model
    DeviceModel m_model;

    mutable std::mutex m_mutex;         // guards everything below; taken before m_modelMutex
    std::condition_variable m_wake;     // new message, new event or stop
    std::condition_variable m_changed;  // a message handled or the ports changed
    std::deque<midi::Bytes> m_incoming;
    std::map<EventKey, Event> m_events;
    std::uint64_t m_nextSequence = 0;
    Clock::time_point m_busyUntil{};  // no message is taken before
    bool m_present = false;
    bool m_stop = false;

    std::thread m_thread;  // last: starts once everything above exists
};

}  // namespace corvane::device
