#pragma once
// A simulated device on an in-process loopback, with the updater's ports and
// sender on the other side: the starting point of tests that talk to a device.

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "device/loopback_ports.h"
#include "midi/loopback_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/messenger.h"

namespace corvane::device::testing {

class LoopbackHarness {
public:
    explicit LoopbackHarness(DeviceConfig config = {})
        : portName(config.portName), device(StartLoopbackDevice(backend, std::move(config))) {}

    // (Re)opens the updater's output and input ports on the device's, found by
    // name; false when the device's ports are not listed.
    bool OpenPorts() {
        const int out = IndexOf(backend.OutputPortNames());
        const int in = IndexOf(backend.InputPortNames());
        if (out < 0 || in < 0) {
            return false;
        }
        // Closed first, as the updater does: a port that came back may sit at
        // the same index as the dead connection.
        midiOut.Close();
        midiIn.Close();
        midiIn.SetDeviceIndex(in);
        return midiOut.Open(out) == 1 && midiIn.Open() == 1;
    }

    // Takes the oldest entry of the receive list, waiting up to `timeout` for one.
    std::optional<midi::Bytes> NextMessage(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const midi::ByteView m = midiIn.GetFirstMessage();
            if (!m.empty()) {
                midi::Bytes copy(m.begin(), m.end());
                midiIn.RemoveFirstMessage();
                return copy;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Declared in construction order: the device's ports outlive the updater's.
    const std::string portName;
    midi::LoopbackBackend backend;
    std::unique_ptr<SimulatedDevice> device;
    midi::CDxMidiOut midiOut{backend};
    midi::CDxMidiIn midiIn{backend};
    protocol::Messenger messenger{midiOut};

private:
    int IndexOf(const std::vector<std::string>& names) const {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == portName) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

}  // namespace corvane::device::testing
