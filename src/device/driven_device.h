#pragma once
// The simulated device on a driven clock: what SimulatedDevice does on its
// own thread, done as tasks of the clock on the thread that drives it. Every
// request is handled when the device is free, every answer goes out after its
// delay, and the ports vanish and come back as the model says.

#include <array>
#include <deque>
#include <memory>
#include <optional>

#include "device/device_model.h"
#include "device/device_ports.h"
#include "device/driven_clock.h"

namespace corvane::device {

class DrivenDevice {
public:
    // Attaches the ports at once.
    DrivenDevice(DeviceConfig config, std::unique_ptr<DevicePorts> ports, DrivenClock& clock);
    ~DrivenDevice();
    DrivenDevice(const DrivenDevice&) = delete;
    DrivenDevice& operator=(const DrivenDevice&) = delete;

    const DeviceModel& Model() const { return m_model; }
    bool IsPresent() const { return m_present; }
    // When a request of `kind` last came (the clock's start when none did),
    // and when the device vanished.
    protocol::Clock::TimePoint LastCame(RequestKind kind) const {
        return m_lastCame[IndexOf(kind)];
    }
    std::optional<protocol::Clock::TimePoint> VanishedAt() const { return m_vanishedAt; }

private:
    void OnReceived(midi::ByteView message);
    void TakeNext();
    void Attach();
    void Vanish(Millis away);

    const std::string m_portName;
    const std::unique_ptr<DevicePorts> m_ports;
    DrivenClock& m_clock;
    DeviceModel m_model;
    std::deque<midi::Bytes> m_incoming;
    protocol::Clock::TimePoint m_busyUntil{};
    bool m_takeDue = false;    // a task to take the next message is on the clock
    std::uint64_t m_life = 0;  // counts vanishings: tasks of an earlier life do nothing
    bool m_present = false;
    std::array<protocol::Clock::TimePoint, kRequestKindCount> m_lastCame{};
    std::optional<protocol::Clock::TimePoint> m_vanishedAt;
};

}  // namespace corvane::device
