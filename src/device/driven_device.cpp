#include "device/driven_device.h"

namespace corvane::device {

namespace {

// Delays this long never end: the answer is not sent, the ports stay away.
constexpr Millis kNever = std::chrono::hours(24 * 365);

}  // namespace

DrivenDevice::DrivenDevice(DeviceConfig config, std::unique_ptr<DevicePorts> ports,
                           DrivenClock& clock)
    : m_portName(config.portName),
      m_ports(std::move(ports)),
      m_clock(clock),
      m_model(std::move(config)) {
    Attach();
}

DrivenDevice::~DrivenDevice() {
    m_ports->Detach();
}

void DrivenDevice::Attach() {
    m_present =
        m_ports->Attach(m_portName, [this](midi::ByteView message) { OnReceived(message); });
}

void DrivenDevice::OnReceived(midi::ByteView message) {
    if (const auto kind = DeviceModel::RequestOf(message)) {
        m_lastCame[IndexOf(*kind)] = m_clock.Now();
    }
    m_incoming.emplace_back(message.begin(), message.end());
    if (!m_takeDue) {
        m_takeDue = true;
        m_clock.At(m_busyUntil, [this, life = m_life] {
            if (life == m_life) {
                TakeNext();
            }
        });
    }
}

// Handles the oldest message; the next one waits until the device is free.
void DrivenDevice::TakeNext() {
    m_takeDue = false;
    if (m_incoming.empty()) {
        return;
    }
    const midi::Bytes message = std::move(m_incoming.front());
    m_incoming.pop_front();
    Response response = m_model.Handle(message);
    const auto now = m_clock.Now();
    Millis last{0};
    for (auto& out : response.messages) {
        if (out.delay < kNever) {
            last = std::max(last, out.delay);
            m_clock.At(now + out.delay, [this, life = m_life, m = std::move(out.message)] {
                if (life == m_life) {
                    m_ports->Send(m);
                }
            });
        }
    }
    if (response.vanishFor) {
        m_clock.At(now + last, [this, life = m_life, away = *response.vanishFor] {
            if (life == m_life) {
                Vanish(away);
            }
        });
    }
    m_busyUntil = now + response.busyFor;
    if (!m_incoming.empty()) {
        m_takeDue = true;
        m_clock.At(m_busyUntil, [this, life = m_life] {
            if (life == m_life) {
                TakeNext();
            }
        });
    }
}

// Whatever the device still had to do dies with it.
void DrivenDevice::Vanish(Millis away) {
    m_ports->Detach();
    m_present = false;
    m_vanishedAt = m_clock.Now();
    m_incoming.clear();
    m_takeDue = false;
    ++m_life;
    if (away < kNever) {
        m_clock.At(m_clock.Now() + away, [this, life = m_life] {
            if (life == m_life) {
                Attach();
            }
        });
    }
}

}  // namespace corvane::device
