// The winmm backend and the names it reports, under Wine or on Windows; over a
// stand-in driver, what it does when the driver misbehaves as real ones do
// once their device has been pulled out.

#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "app/updater_dialog.h"
#include "midi/system_backend.h"
#include "midi/utf16_win.h"
#include "midi/winmm_driver_win.h"
#include "tests/win/window_driver.h"

namespace corvane::midi {
namespace {

constexpr const char* kJapaneseGenericName = "USB オーディオ デバイス";

TEST(WinmmNames, TheJapaneseGenericNameInCodePage932IsTheWantedName) {
    // The name as a Japanese system's multibyte API reports it.
    const std::string cp932 =
        "USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58";
    EXPECT_EQ(Utf8FromCodePage(932, cp932), kJapaneseGenericName);
    EXPECT_EQ(Utf8FromCodePage(932, cp932 + " (2)"), std::string(kJapaneseGenericName) + " (2)");

    const auto wanted = app::WantedPortNames(1);
    EXPECT_NE(std::find(wanted.begin(), wanted.end(), Utf8FromCodePage(932, cp932)), wanted.end());
    // Windows' own name for a second identical device.
    const auto second = app::WantedPortNames(2);
    EXPECT_NE(std::find(second.begin(), second.end(), "2- " + Utf8FromCodePage(932, cp932)),
              second.end());
}

TEST(WinmmNames, WideNamesBecomeUtf8AndBack) {
    const std::wstring wide = L"USB \u30AA\u30FC\u30C7\u30A3\u30AA \u30C7\u30D0\u30A4\u30B9";
    EXPECT_EQ(Utf8FromUtf16(wide), kJapaneseGenericName);
    EXPECT_EQ(Utf16FromUtf8(kJapaneseGenericName), wide);
    EXPECT_EQ(Utf8FromUtf16(L"USB Audio Device"), "USB Audio Device");
}

TEST(WinmmNames, BrokenTextBecomesEmpty) {
    EXPECT_EQ(Utf16FromUtf8("\xC3"), L"");  // cut inside a character
    EXPECT_EQ(Utf16FromUtf8("ab\xFF"
                            "cd"),
              L"");                                // not UTF-8 at all
    EXPECT_EQ(Utf8FromCodePage(932, "\x83"), "");  // a lead byte alone
    EXPECT_EQ(Utf8FromUtf16(L""), "");
}

TEST(WinmmBackend, ListsOneNameForEveryDeviceWinmmCounts) {
    auto backend = CreateSystemBackend();
    EXPECT_EQ(backend->InputPortNames().size(), midiInGetNumDevs());
    EXPECT_EQ(backend->OutputPortNames().size(), midiOutGetNumDevs());
}

TEST(WinmmBackend, RefusesIndexesOutsideTheList) {
    auto backend = CreateSystemBackend();
    const int inputs = static_cast<int>(midiInGetNumDevs());
    const int outputs = static_cast<int>(midiOutGetNumDevs());
    EXPECT_EQ(backend->OpenOutput(-1), nullptr);
    EXPECT_EQ(backend->OpenOutput(outputs), nullptr);
    EXPECT_EQ(backend->OpenInput(-1, [](ByteView) {}), nullptr);
    EXPECT_EQ(backend->OpenInput(inputs, [](ByteView) {}), nullptr);
}

TEST(WinmmBackend, HasNoVirtualPorts) {
    EXPECT_EQ(OpenVirtualPorts("Corvane Test Device", [](ByteView) {}), nullptr);
}

// Only where winmm has devices (Wine reaches them through the ALSA sequencer).
TEST(WinmmBackend, OpensEveryDeviceAndSendsASysExWhole) {
    auto backend = CreateSystemBackend();
    const auto outputs = backend->OutputPortNames();
    const auto inputs = backend->InputPortNames();
    if (outputs.empty() && inputs.empty()) {
        GTEST_SKIP() << "winmm lists no MIDI devices here";
    }
    const Bytes identityRequest{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    for (int i = 0; i < static_cast<int>(outputs.size()); ++i) {
        auto output = backend->OpenOutput(i);
        ASSERT_NE(output, nullptr) << outputs[static_cast<std::size_t>(i)];
        EXPECT_TRUE(output->Send(identityRequest)) << outputs[static_cast<std::size_t>(i)];
        EXPECT_FALSE(output->Send({})) << outputs[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < static_cast<int>(inputs.size()); ++i) {
        // Closing gives the queued receive buffers back without queueing them again.
        auto input = backend->OpenInput(i, [](ByteView) {});
        EXPECT_NE(input, nullptr) << inputs[static_cast<std::size_t>(i)];
    }
}

using app::win::testing::WaitUntil;
using namespace std::chrono_literals;

// Short, so that the cases where the driver never answers end soon; the
// driver here answers at once or never, so that no case depends on them.
constexpr WinmmBounds kShortBounds{50ms, 50ms};

const HMIDIIN kInHandle = reinterpret_cast<HMIDIIN>(0x10);
const HMIDIOUT kOutHandle = reinterpret_cast<HMIDIOUT>(0x20);

// Stands in for a MIDI driver with one device: keeps the buffers and messages
// it is given as a driver does and hands them back when reset, or, once its
// device is gone, keeps them and refuses to stop, reset or close. Counts every
// call made to it from inside one of its own callbacks.
class FakeDriver final : public WinmmDriver {
public:
    // A message sent is done at once; otherwise the driver keeps it.
    bool finishesSends = true;
    // The device has been pulled out.
    bool gone = false;

    UINT InGetNumDevs() override {
        Note();
        return 1;
    }
    MMRESULT InGetDevCaps(UINT, MIDIINCAPSW* caps) override {
        Note();
        wcscpy(caps->szPname, L"USB Audio Device");
        return MMSYSERR_NOERROR;
    }
    MMRESULT InOpen(HMIDIIN* handle, UINT, MidiInProc callback, DWORD_PTR instance) override {
        Note();
        std::lock_guard lock(m_mutex);
        m_callback = callback;
        m_instance = instance;
        *handle = kInHandle;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InPrepareHeader(HMIDIIN, MIDIHDR* header) override {
        Note();
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InUnprepareHeader(HMIDIIN, MIDIHDR* header) override {
        Note();
        std::lock_guard lock(m_mutex);
        if (std::find(m_queue.begin(), m_queue.end(), header) != m_queue.end()) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags &= ~MHDR_PREPARED;
        ++m_inUnprepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InAddBuffer(HMIDIIN, MIDIHDR* header) override {
        Note();
        std::lock_guard lock(m_mutex);
        if (m_addsToRefuse > 0) {
            --m_addsToRefuse;
            return MMSYSERR_NOMEM;
        }
        if (m_inReset) {
            ++m_addsAfterReset;
        }
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        m_queue.push_back(header);
        return MMSYSERR_NOERROR;
    }
    MMRESULT InStart(HMIDIIN) override {
        Note();
        return MMSYSERR_NOERROR;
    }
    MMRESULT InStop(HMIDIIN) override {
        Note();
        return gone ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }
    MMRESULT InReset(HMIDIIN) override {
        Note();
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        std::deque<MIDIHDR*> queued;
        {
            std::lock_guard lock(m_mutex);
            m_inReset = true;
            queued.swap(m_queue);
        }
        // From inside the call, as a driver may.
        for (MIDIHDR* header : queued) {
            header->dwBytesRecorded = 0;
            GiveBack(header, MIM_LONGDATA);
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT InClose(HMIDIIN) override {
        Note();
        std::lock_guard lock(m_mutex);
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        return m_queue.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
    }

    UINT OutGetNumDevs() override {
        Note();
        return 1;
    }
    MMRESULT OutGetDevCaps(UINT, MIDIOUTCAPSW* caps) override {
        Note();
        wcscpy(caps->szPname, L"USB Audio Device");
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutOpen(HMIDIOUT* handle, UINT) override {
        Note();
        *handle = kOutHandle;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutPrepareHeader(HMIDIOUT, MIDIHDR* header) override {
        Note();
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutUnprepareHeader(HMIDIOUT, MIDIHDR* header) override {
        Note();
        std::lock_guard lock(m_mutex);
        if (std::find(m_held.begin(), m_held.end(), header) != m_held.end()) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags &= ~MHDR_PREPARED;
        ++m_outUnprepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutLongMsg(HMIDIOUT, MIDIHDR* header) override {
        Note();
        std::lock_guard lock(m_mutex);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
        m_sent.emplace_back(bytes, bytes + header->dwBufferLength);
        if (finishesSends) {
            header->dwFlags |= MHDR_DONE;
        } else {
            header->dwFlags |= MHDR_INQUEUE;
            m_held.push_back(header);
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutReset(HMIDIOUT) override {
        Note();
        std::lock_guard lock(m_mutex);
        ++m_outResets;
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        for (MIDIHDR* header : m_held) {
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        }
        m_held.clear();
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutClose(HMIDIOUT) override {
        Note();
        std::lock_guard lock(m_mutex);
        ++m_outCloses;
        return m_held.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
    }

    // The device sends `bytes`: they fill the oldest queued buffer, which comes
    // back through the callback on this thread, as on a driver's own. False
    // when no buffer is queued.
    bool Receive(const Bytes& bytes, UINT message = MIM_LONGDATA) {
        MIDIHDR* header = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) {
                return false;
            }
            header = m_queue.front();
            m_queue.pop_front();
        }
        std::memcpy(header->lpData, bytes.data(), bytes.size());
        header->dwBytesRecorded = static_cast<DWORD>(bytes.size());
        GiveBack(header, message);
        return true;
    }
    // The next `count` buffers offered are refused.
    void RefuseAdds(int count) {
        std::lock_guard lock(m_mutex);
        m_addsToRefuse = count;
    }
    std::size_t Queued() {
        std::lock_guard lock(m_mutex);
        return m_queue.size();
    }
    std::vector<MIDIHDR*> Held() {
        std::lock_guard lock(m_mutex);
        return m_held;
    }
    std::vector<Bytes> Sent() {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    int InUnprepared() const { return m_inUnprepared; }
    int AddsAfterReset() const { return m_addsAfterReset; }
    int OutUnprepared() const { return m_outUnprepared; }
    int OutResets() const { return m_outResets; }
    int OutCloses() const { return m_outCloses; }
    int CallsFromCallbacks() const { return m_callsFromCallbacks; }

private:
    void Note() {
        if (t_inCallback) {
            ++m_callsFromCallbacks;
        }
    }
    void GiveBack(MIDIHDR* header, UINT message) {
        header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        t_inCallback = true;
        m_callback(kInHandle, message, m_instance, reinterpret_cast<DWORD_PTR>(header), 0);
        t_inCallback = false;
    }

    static thread_local bool t_inCallback;
    std::mutex m_mutex;
    MidiInProc m_callback = nullptr;
    DWORD_PTR m_instance = 0;
    std::deque<MIDIHDR*> m_queue;
    std::vector<MIDIHDR*> m_held;
    std::vector<Bytes> m_sent;
    int m_addsToRefuse = 0;
    bool m_inReset = false;
    std::atomic<int> m_inUnprepared{0};
    std::atomic<int> m_addsAfterReset{0};
    std::atomic<int> m_outUnprepared{0};
    std::atomic<int> m_outResets{0};
    std::atomic<int> m_outCloses{0};
    std::atomic<int> m_callsFromCallbacks{0};
};

thread_local bool FakeDriver::t_inCallback = false;

// What an input's handler was given.
class Received {
public:
    InputHandler Handler() {
        return [this](ByteView bytes) {
            std::lock_guard lock(m_mutex);
            m_messages.emplace_back(bytes.begin(), bytes.end());
        };
    }
    std::vector<Bytes> Messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    std::mutex m_mutex;
    std::vector<Bytes> m_messages;
};

Bytes Message(std::uint8_t n) {
    return {0xF0, 0x7D, n, 0xF7};
}

TEST(WinmmDriverInput, MessagesArriveInOrderAndEveryBufferGoesBackToTheDriver) {
    FakeDriver driver;
    Received received;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    auto input = backend->OpenInput(0, received.Handler());
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(driver.Queued(), 4u);
    // More messages than buffers: each buffer must be queued again.
    for (std::uint8_t n = 0; n < 10; ++n) {
        ASSERT_TRUE(WaitUntil([&] { return driver.Queued() == 4; }, 10s)) << int(n);
        ASSERT_TRUE(driver.Receive(Message(n)));
    }
    ASSERT_TRUE(WaitUntil([&] { return received.Messages().size() == 10; }, 10s));
    for (std::uint8_t n = 0; n < 10; ++n) {
        EXPECT_EQ(received.Messages()[n], Message(n));
    }
    // A cut message is dropped; the buffer goes back all the same.
    ASSERT_TRUE(WaitUntil([&] { return driver.Queued() == 4; }, 10s));
    ASSERT_TRUE(driver.Receive({0xF0, 0x7D}, MIM_LONGERROR));
    EXPECT_TRUE(WaitUntil([&] { return driver.Queued() == 4; }, 10s));
    EXPECT_FALSE(input->Gone());
    // Each buffer was queued again from a thread of the backend's own: a
    // driver's callback must make no winmm call.
    EXPECT_EQ(driver.CallsFromCallbacks(), 0);
}

TEST(WinmmDriverInput, ABufferTheDriverRefusedIsOfferedAgainAndNoneLeftMeansGone) {
    FakeDriver driver;
    Received received;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    auto input = backend->OpenInput(0, received.Handler());
    ASSERT_NE(input, nullptr);
    driver.RefuseAdds(1);
    ASSERT_TRUE(driver.Receive(Message(1)));
    ASSERT_TRUE(WaitUntil([&] { return received.Messages().size() == 1; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return driver.Queued() == 3; }, 10s));
    ASSERT_TRUE(driver.Receive(Message(2)));
    EXPECT_TRUE(WaitUntil([&] { return driver.Queued() == 4; }, 10s));
    EXPECT_FALSE(input->Gone());

    // A driver that takes no buffer back leaves the port deaf: it says so.
    driver.RefuseAdds(1000);
    for (std::uint8_t n = 0; n < 4; ++n) {
        ASSERT_TRUE(driver.Receive(Message(n)));
    }
    EXPECT_TRUE(WaitUntil([&] { return input->Gone(); }, 10s));
    EXPECT_EQ(received.Messages().size(), 6u);
}

TEST(WinmmDriverInput, ClosingTakesEveryBufferBackWithoutQueueingOne) {
    FakeDriver driver;
    Received received;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    const std::size_t leftBefore = BlocksLeftToDrivers();
    auto input = backend->OpenInput(0, received.Handler());
    ASSERT_NE(input, nullptr);
    input.reset();
    EXPECT_EQ(driver.InUnprepared(), 4);
    EXPECT_EQ(driver.AddsAfterReset(), 0);
    EXPECT_EQ(driver.Queued(), 0u);
    EXPECT_EQ(driver.CallsFromCallbacks(), 0);
    EXPECT_EQ(BlocksLeftToDrivers(), leftBefore);
}

TEST(WinmmDriverInput, BuffersADriverWillNotGiveBackAreLeftToIt) {
    FakeDriver driver;
    Received received;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    const std::size_t leftBefore = BlocksLeftToDrivers();
    auto input = backend->OpenInput(0, received.Handler());
    ASSERT_NE(input, nullptr);
    driver.gone = true;
    input.reset();
    EXPECT_EQ(BlocksLeftToDrivers(), leftBefore + 1);
    EXPECT_EQ(driver.InUnprepared(), 0);
    // Late data in a buffer it kept reaches live memory and no handler.
    ASSERT_TRUE(driver.Receive(Message(1)));
    EXPECT_TRUE(received.Messages().empty());
}

TEST(WinmmDriverOutput, ClosingAfterFinishedSendsSendsNoReset) {
    FakeDriver driver;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    auto output = backend->OpenOutput(0);
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(output->Send(Message(1)));
    EXPECT_TRUE(output->Send(Message(2)));
    output.reset();
    EXPECT_EQ(driver.Sent(), (std::vector<Bytes>{Message(1), Message(2)}));
    EXPECT_EQ(driver.OutUnprepared(), 2);
    EXPECT_EQ(driver.OutResets(), 0);
    EXPECT_EQ(driver.OutCloses(), 1);
}

TEST(WinmmDriverOutput, AStuckSendIsTakenBackByAReset) {
    FakeDriver driver;
    driver.finishesSends = false;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    auto output = backend->OpenOutput(0);
    ASSERT_NE(output, nullptr);
    EXPECT_FALSE(output->Send(Message(1)));
    EXPECT_EQ(driver.OutResets(), 1);
    EXPECT_EQ(driver.OutUnprepared(), 1);
    EXPECT_FALSE(output->Gone());
    output.reset();
    EXPECT_EQ(driver.OutResets(), 1);
}

TEST(WinmmDriverOutput, ASendAGoneDriverKeepsEndsAndIsLeftToIt) {
    FakeDriver driver;
    driver.finishesSends = false;
    driver.gone = true;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    const std::size_t leftBefore = BlocksLeftToDrivers();
    auto output = backend->OpenOutput(0);
    ASSERT_NE(output, nullptr);
    EXPECT_FALSE(output->Send(Message(1)));
    EXPECT_TRUE(output->Gone());
    // Nothing more goes to a driver that holds a message it was told to return.
    EXPECT_FALSE(output->Send(Message(2)));
    EXPECT_EQ(driver.Sent().size(), 1u);
    output.reset();
    EXPECT_EQ(driver.OutResets(), 2);
    EXPECT_EQ(BlocksLeftToDrivers(), leftBefore + 1);
    // The message the driver holds is still there for it to read.
    const auto held = driver.Held();
    ASSERT_EQ(held.size(), 1u);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(held[0]->lpData);
    EXPECT_EQ(Bytes(bytes, bytes + held[0]->dwBufferLength), Message(1));
}

}  // namespace
}  // namespace corvane::midi
