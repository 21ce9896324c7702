#include "device/simulated_device.h"

#include <algorithm>
#include <optional>

namespace corvane::device {

namespace {

// Delays this long never end: the answer is not sent, the ports stay away.
constexpr Millis kNever = std::chrono::hours(24 * 365);

}  // namespace

SimulatedDevice::SimulatedDevice(DeviceConfig config, std::unique_ptr<DevicePorts> ports)
    : m_portName(config.portName), m_ports(std::move(ports)), m_model(std::move(config)) {
    Attach();
    m_thread = std::thread([this] { Run(); });
}

SimulatedDevice::~SimulatedDevice() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    m_ports->Detach();
}

void SimulatedDevice::Attach() {
    const bool attached =
        m_ports->Attach(m_portName, [this](midi::ByteView message) { OnReceived(message); });
    {
        std::lock_guard lock(m_mutex);
        m_present = attached;
    }
    m_changed.notify_all();
}

void SimulatedDevice::OnReceived(midi::ByteView message) {
    {
        std::lock_guard lock(m_mutex);
        m_incoming.emplace_back(message.begin(), message.end());
    }
    m_wake.notify_one();
}

void SimulatedDevice::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        const auto now = Clock::now();
        // Due answers go first, so that a stream of requests cannot hold them back.
        if (!m_events.empty() && m_events.begin()->first.first <= now) {
            const Event event = std::move(m_events.begin()->second);
            m_events.erase(m_events.begin());
            lock.unlock();
            Execute(event);
            lock.lock();
        } else if (!m_incoming.empty() && m_busyUntil <= now) {
            const midi::Bytes message = std::move(m_incoming.front());
            m_incoming.pop_front();
            lock.unlock();
            Process(message);
            lock.lock();
        } else {
            // Sleep until the next answer is due or the device is free again.
            std::optional<Clock::time_point> until;
            if (!m_events.empty()) {
                until = m_events.begin()->first.first;
            }
            if (!m_incoming.empty() && (!until || m_busyUntil < *until)) {
                until = m_busyUntil;
            }
            if (until) {
                m_wake.wait_until(lock, *until);
            } else {
                m_wake.wait(lock);
            }
        }
    }
}

void SimulatedDevice::Process(const midi::Bytes& message) {
    Response response;
    {
        std::lock_guard lock(m_modelMutex);
        response = m_model.Handle(message);
    }
    const auto now = Clock::now();
    {
        std::lock_guard lock(m_mutex);
        Millis last{0};
        for (auto& out : response.messages) {
            if (out.delay < kNever) {
                last = std::max(last, out.delay);
                Schedule(now + out.delay, {EventType::kSend, std::move(out.message), Millis{0}});
            }
        }
        if (response.vanishFor) {
            Schedule(now + last, {EventType::kVanish, {}, *response.vanishFor});
        }
        m_busyUntil = now + response.busyFor;
    }
    m_changed.notify_all();
}

void SimulatedDevice::Schedule(Clock::time_point at, Event event) {
    m_events.emplace(EventKey{at, m_nextSequence++}, std::move(event));
}

void SimulatedDevice::Execute(const Event& event) {
    switch (event.type) {
        case EventType::kSend:
            m_ports->Send(event.message);
            return;
        case EventType::kVanish:
            m_ports->Detach();
            {
                std::lock_guard lock(m_mutex);
                m_present = false;
                // Whatever the device still had to do died with it.
                m_incoming.clear();
                m_events.clear();
                if (event.away < kNever) {
                    Schedule(Clock::now() + event.away, {EventType::kComeBack, {}, Millis{0}});
                }
            }
            m_changed.notify_all();
            return;
        case EventType::kComeBack:
            Attach();
            return;
    }
}

midi::Bytes SimulatedDevice::Flash() const {
    std::lock_guard lock(m_modelMutex);
    return m_model.Flash();
}

DeviceCounters SimulatedDevice::Counters() const {
    std::lock_guard lock(m_modelMutex);
    return m_model.Counters();
}

std::vector<std::string> SimulatedDevice::Transcript() const {
    std::lock_guard lock(m_modelMutex);
    return m_model.Transcript();
}

bool SimulatedDevice::InUpdateMode() const {
    std::lock_guard lock(m_modelMutex);
    return m_model.InUpdateMode();
}

bool SimulatedDevice::IsPresent() const {
    std::lock_guard lock(m_mutex);
    return m_present;
}

bool SimulatedDevice::WaitForRequests(RequestKind kind, int count, Millis timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        std::lock_guard modelLock(m_modelMutex);
        return m_model.Counters().Requests(kind) >= count;
    });
}

bool SimulatedDevice::WaitForPresence(bool present, Millis timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_present == present; });
}

}  // namespace corvane::device
