#pragma once
// The simulated device's ports on the platform's MIDI system: a pair of virtual
// ports that other processes list under the device's name (the JACK port's
// name, the ALSA sequencer client's name).

#include <atomic>
#include <cstdint>
#include <memory>

#include "midi/system_backend.h"
#include "tools/counted_ports.h"

namespace corvane::tools {

class SystemPorts final : public CountedPorts {
public:
    SystemPorts() = default;
    ~SystemPorts() override;
    SystemPorts(const SystemPorts&) = delete;
    SystemPorts& operator=(const SystemPorts&) = delete;

    bool Attach(const std::string& name, Receiver receiver) override;
    void Detach() override;
    bool Send(midi::ByteView message) override;

    std::uint64_t SendCount() const override { return m_sends; }

private:
    // Touched only by the device's own thread (and its owner before and after it).
    std::unique_ptr<midi::VirtualPortPair> m_ports;
    std::atomic<std::uint64_t> m_sends{0};
};

}  // namespace corvane::tools
