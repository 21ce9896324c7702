// The raw MIDI backend on a real USB MIDI link: run by the USB rig inside its
// VM, where this program makes a USB MIDI gadget of its own on dummy_hcd and
// talks to it through the host side's snd-usb-audio card. Elsewhere every
// test is skipped.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "midi/port_names.h"
#include "midi/rawmidi_backend.h"
#include "tools/usb_gadget.h"

namespace corvane::midi {
namespace {

using namespace std::chrono_literals;

constexpr const char* kProduct = "Corvane Link Test";
constexpr std::chrono::milliseconds kPatience = 20s;

// Whole messages as a connection's thread hands them over.
class Received {
public:
    InputHandler Handler() {
        return [this](ByteView message) {
            std::lock_guard lock(m_mutex);
            m_messages.emplace_back(message.begin(), message.end());
            m_arrived.notify_all();
        };
    }
    // The first `count` messages, or what came when they did not all come in time.
    std::vector<Bytes> Wait(std::size_t count, std::chrono::milliseconds patience = kPatience) {
        std::unique_lock lock(m_mutex);
        m_arrived.wait_for(lock, patience, [&] { return m_messages.size() >= count; });
        return m_messages;
    }

private:
    std::mutex m_mutex;  // guards m_messages
    std::condition_variable m_arrived;
    std::vector<Bytes> m_messages;
};

std::optional<std::string> HostAddress(const std::vector<RawMidiPort>& ports) {
    for (const auto& port : ports) {
        if (port.name == kProduct) {
            return port.address;
        }
    }
    return std::nullopt;
}

// The gadget bound to the controller, and both ends of the link.
class UsbLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root for the USB gadget";
        }
        m_gadget = tools::CreateUsbMidiGadget(kProduct, "auto");
        if (!m_gadget) {
            GTEST_SKIP() << "no USB device controller here";
        }
        const auto gadget = m_gadget->Appear();
        ASSERT_TRUE(gadget.has_value());
        m_gadgetSide = *gadget;
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline &&
               !(m_hostIn = HostAddress(RawMidiInputs()))) {
            std::this_thread::sleep_for(20ms);
        }
        m_hostOut = HostAddress(RawMidiOutputs());
        ASSERT_TRUE(m_hostIn && m_hostOut) << "the host side never saw the gadget";
    }

    std::unique_ptr<tools::RawMidiLink> m_gadget;
    tools::RawMidiAddresses m_gadgetSide;
    std::optional<std::string> m_hostIn;
    std::optional<std::string> m_hostOut;
};

Bytes SysEx(std::size_t dataBytes, std::uint8_t seed) {
    Bytes message{0xF0};
    for (std::size_t i = 0; i < dataBytes; ++i) {
        message.push_back(static_cast<std::uint8_t>((i * 7 + seed) & 0x7F));
    }
    message.push_back(0xF7);
    return message;
}

TEST_F(UsbLink, LongMessagesArriveWholeAndOnceBothWays) {
    Received atGadget;
    Received atHost;
    auto gadgetIn = OpenRawMidiInput(m_gadgetSide.input, atGadget.Handler());
    auto gadgetOut = OpenRawMidiOutput(m_gadgetSide.output);
    auto hostIn = OpenRawMidiInput(*m_hostIn, atHost.Handler());
    auto hostOut = OpenRawMidiOutput(*m_hostOut);
    ASSERT_TRUE(gadgetIn && gadgetOut && hostIn && hostOut);

    // Far beyond any driver buffer, then a short one right behind it.
    const std::vector<Bytes> toDevice{SysEx(64 * 1024, 1), SysEx(4, 2), SysEx(4700, 3)};
    for (const auto& message : toDevice) {
        ASSERT_TRUE(hostOut->Send(message));
    }
    EXPECT_EQ(atGadget.Wait(toDevice.size()), toDevice);

    const std::vector<Bytes> toHost{SysEx(20 * 1024, 4), SysEx(9, 5)};
    for (const auto& message : toHost) {
        ASSERT_TRUE(gadgetOut->Send(message));
    }
    EXPECT_EQ(atHost.Wait(toHost.size()), toHost);
    // Nothing more trails them: no message comes twice.
    EXPECT_EQ(atHost.Wait(toHost.size() + 1, 500ms).size(), toHost.size());
    EXPECT_EQ(atGadget.Wait(toDevice.size() + 1, 500ms).size(), toDevice.size());
}

TEST_F(UsbLink, RealTimeBytesInsideAMessageAreLeftOut) {
    Received atHost;
    auto hostIn = OpenRawMidiInput(*m_hostIn, atHost.Handler());
    auto gadgetOut = OpenRawMidiOutput(m_gadgetSide.output);
    ASSERT_TRUE(hostIn && gadgetOut);
    ASSERT_TRUE(gadgetOut->Send(Bytes{0xFE, 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0x03, 0xF7}));
    const auto messages = atHost.Wait(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x01, 0x02, 0x03, 0xF7}));
}

TEST_F(UsbLink, APortAlreadyOpenIsBusy) {
    auto hostIn = OpenRawMidiInput(*m_hostIn, {});
    auto hostOut = OpenRawMidiOutput(*m_hostOut);
    ASSERT_TRUE(hostIn && hostOut);
    EXPECT_EQ(OpenRawMidiInput(*m_hostIn, {}), nullptr);
    EXPECT_EQ(OpenRawMidiOutput(*m_hostOut), nullptr);
    hostIn.reset();
    EXPECT_NE(OpenRawMidiInput(*m_hostIn, {}), nullptr);
}

TEST_F(UsbLink, AVanishedPortFailsSendsAndClosesCleanly) {
    Received atHost;
    auto hostIn = OpenRawMidiInput(*m_hostIn, atHost.Handler());
    auto hostOut = OpenRawMidiOutput(*m_hostOut);
    ASSERT_TRUE(hostIn && hostOut);
    m_gadget->Disappear();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline && HostAddress(RawMidiInputs())) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_FALSE(HostAddress(RawMidiInputs()).has_value());
    EXPECT_FALSE(hostOut->Send(SysEx(16, 6)));
    // Closing returns although the port is gone (the test's time-out guards it).
    hostIn.reset();
    hostOut.reset();
    EXPECT_TRUE(atHost.Wait(0, 0ms).empty());
}

}  // namespace
}  // namespace corvane::midi
