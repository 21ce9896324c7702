// The winmm backend and the names it reports, under Wine or on Windows; over a
// stand-in driver, what it does when the driver misbehaves as real ones do
// once their device has been pulled out.

#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/updater_dialog.h"
#include "midi/midi_out.h"
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
constexpr WinmmBounds kShortBounds{50ms, 50ms, 1000};

const HMIDIIN kInHandle = reinterpret_cast<HMIDIIN>(0x10);
const HMIDIOUT kOutHandle = reinterpret_cast<HMIDIOUT>(0x20);

// Stands in for a MIDI driver with one device: keeps the buffers and messages
// it is given as a driver does and hands them back when reset, or, once its
// device is gone, keeps them and refuses to stop, reset or close. Counts every
// call made to it from inside one of its own callbacks. Calls that a real
// driver may block in can be made to block until the driver is destroyed.
class FakeDriver final : public WinmmDriver {
public:
    enum Call { kOutLongMsg, kOutReset, kOutClose, kInStop, kInReset, kInClose, kCalls };

    // A message sent is done at once; otherwise the driver keeps it, until
    // a reset when it recovers then.
    std::atomic<bool> finishesSends{true};
    bool recoversOnReset = false;
    // The device has been pulled out.
    bool gone = false;
    // A reset returns at once; the buffers come back from a thread of the
    // driver's own, the first `givenBackAtOnce` of them at once, the others
    // when LetGo is called.
    bool givesBackLater = false;
    std::size_t givenBackAtOnce = 0;
    // These calls never return while the driver lives.
    std::array<bool, kCalls> blocks{};

    ~FakeDriver() override {
        LetGo();
        {
            std::unique_lock lock(m_mutex);
            m_blocked = false;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_inCalls == 0; });
        }
        if (m_givingBack.joinable()) {
            m_givingBack.join();
        }
    }

    // Gives back what a reset left to give back later.
    void LetGo() {
        std::lock_guard lock(m_mutex);
        m_letGo = true;
        m_changed.notify_all();
    }
    // Calls being made, blocked ones among them.
    int InCalls() {
        std::lock_guard lock(m_mutex);
        return m_inCalls;
    }

    UINT InGetNumDevs() override {
        const auto call = Note();
        return 1;
    }
    MMRESULT InGetDevCaps(UINT, MIDIINCAPSW* caps) override {
        const auto call = Note();
        wcscpy(caps->szPname, L"USB Audio Device");
        return MMSYSERR_NOERROR;
    }
    MMRESULT InOpen(HMIDIIN* handle, UINT, MidiInProc callback, DWORD_PTR instance) override {
        const auto call = Note();
        std::lock_guard lock(m_mutex);
        m_callback = callback;
        m_instance = instance;
        *handle = kInHandle;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InPrepareHeader(HMIDIIN, MIDIHDR* header) override {
        const auto call = Note();
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InUnprepareHeader(HMIDIIN, MIDIHDR* header) override {
        const auto call = Note();
        std::lock_guard lock(m_mutex);
        if (std::find(m_queue.begin(), m_queue.end(), header) != m_queue.end()) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags &= ~MHDR_PREPARED;
        ++m_inUnprepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT InAddBuffer(HMIDIIN, MIDIHDR* header) override {
        const auto call = Note();
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
        const auto call = Note();
        return MMSYSERR_NOERROR;
    }
    MMRESULT InStop(HMIDIIN) override {
        const auto call = Note();
        MaybeBlock(kInStop);
        return gone ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }
    MMRESULT InReset(HMIDIIN) override {
        const auto call = Note();
        MaybeBlock(kInReset);
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        std::deque<MIDIHDR*> queued;
        {
            std::lock_guard lock(m_mutex);
            m_inReset = true;
            if (givesBackLater) {
                // Kept queued until given back, so that closing is refused meanwhile.
                m_givingBack = std::thread([this, queued = m_queue] { GiveBackLater(queued); });
                return MMSYSERR_NOERROR;
            }
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
        const auto call = Note();
        MaybeBlock(kInClose);
        std::lock_guard lock(m_mutex);
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        return m_queue.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
    }

    UINT OutGetNumDevs() override {
        const auto call = Note();
        return 1;
    }
    MMRESULT OutGetDevCaps(UINT, MIDIOUTCAPSW* caps) override {
        const auto call = Note();
        wcscpy(caps->szPname, L"USB Audio Device");
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutOpen(HMIDIOUT* handle, UINT) override {
        const auto call = Note();
        *handle = kOutHandle;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutPrepareHeader(HMIDIOUT, MIDIHDR* header) override {
        const auto call = Note();
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutUnprepareHeader(HMIDIOUT, MIDIHDR* header) override {
        const auto call = Note();
        std::lock_guard lock(m_mutex);
        if (std::find(m_held.begin(), m_held.end(), header) != m_held.end()) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags &= ~MHDR_PREPARED;
        ++m_outUnprepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutLongMsg(HMIDIOUT, MIDIHDR* header) override {
        const auto call = Note();
        MaybeBlock(kOutLongMsg);
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
        const auto call = Note();
        MaybeBlock(kOutReset);
        std::lock_guard lock(m_mutex);
        ++m_outResets;
        if (gone) {
            return MMSYSERR_NODRIVER;
        }
        if (recoversOnReset) {
            finishesSends = true;
        }
        for (MIDIHDR* header : m_held) {
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        }
        m_held.clear();
        return MMSYSERR_NOERROR;
    }
    MMRESULT OutClose(HMIDIOUT) override {
        const auto call = Note();
        MaybeBlock(kOutClose);
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
    // Counts the call while it runs, so that the driver outlives it.
    class [[nodiscard]] InCall {
    public:
        explicit InCall(FakeDriver& driver) : m_driver(driver) {
            std::lock_guard lock(m_driver.m_mutex);
            ++m_driver.m_inCalls;
        }
        ~InCall() {
            std::lock_guard lock(m_driver.m_mutex);
            --m_driver.m_inCalls;
            m_driver.m_changed.notify_all();
        }
        InCall(const InCall&) = delete;
        InCall& operator=(const InCall&) = delete;

    private:
        FakeDriver& m_driver;
    };

    InCall Note() {
        if (t_inCallback) {
            ++m_callsFromCallbacks;
        }
        return InCall(*this);
    }
    // Blocks while the driver lives when `call` is set to block.
    void MaybeBlock(Call call) {
        if (!blocks[call]) {
            return;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_blocked; });
    }
    // The driver's own thread, after the reset returned.
    void GiveBackLater(std::deque<MIDIHDR*> queued) {
        const auto call = Note();
        for (std::size_t i = 0; i < queued.size(); ++i) {
            if (i == givenBackAtOnce) {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_letGo; });
            }
            {
                std::lock_guard lock(m_mutex);
                std::erase(m_queue, queued[i]);
            }
            queued[i]->dwBytesRecorded = 0;
            GiveBack(queued[i], MIM_LONGDATA);
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
    std::condition_variable m_changed;  // m_mutex
    int m_inCalls = 0;
    bool m_blocked = true;
    bool m_letGo = false;
    std::thread m_givingBack;
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

TEST(WinmmDriverInput, BuffersGivenBackFromTheDriversThreadAfterTheResetReachLiveMemory) {
    // Some come back within the wait for them, the others after the close;
    // each callback may still be returning when the connection is gone.
    for (const std::size_t atOnce : {std::size_t{4}, std::size_t{2}, std::size_t{0}}) {
        FakeDriver driver;
        driver.givesBackLater = true;
        driver.givenBackAtOnce = atOnce;
        Received received;
        // Long enough for all to come back when all do: the wait ends then.
        const WinmmBounds bounds{50ms, atOnce == 4 ? 10min : 50ms, 1000};
        auto backend = CreateWinmmBackend(driver, bounds);
        const std::size_t leftBefore = BlocksLeftToDrivers();
        auto input = backend->OpenInput(0, received.Handler());
        ASSERT_NE(input, nullptr);
        input.reset();
        EXPECT_EQ(BlocksLeftToDrivers(), leftBefore + (atOnce == 4 ? 0 : 1)) << atOnce;
        driver.LetGo();
        EXPECT_TRUE(WaitUntil([&] { return driver.Queued() == 0; }, 10s));
        EXPECT_TRUE(received.Messages().empty());
        EXPECT_EQ(driver.CallsFromCallbacks(), 0);
    }
}

// A driver that never returns from a call: closing ends all the same, and
// what the call holds stays with it.
TEST(WinmmDriverInput, ADriverHangingInAStopResetOrCloseCostsAThreadNotTheCloser) {
    for (const FakeDriver::Call hanging :
         {FakeDriver::kInStop, FakeDriver::kInReset, FakeDriver::kInClose}) {
        FakeDriver driver;
        driver.blocks[hanging] = true;
        Received received;
        auto backend = CreateWinmmBackend(driver, kShortBounds);
        const std::size_t leftBefore = BlocksLeftToDrivers();
        auto input = backend->OpenInput(0, received.Handler());
        ASSERT_NE(input, nullptr);
        input.reset();
        EXPECT_EQ(driver.InCalls(), 1) << hanging;
        EXPECT_EQ(BlocksLeftToDrivers(), leftBefore + 1) << hanging;
    }
}

TEST(WinmmDriverOutput, ADriverHangingInASendResetOrCloseCostsAThreadNotTheSender) {
    struct Case {
        FakeDriver::Call hanging;
        bool finishesSends;
        bool sent;
        std::size_t left;
    };
    for (const Case& c : {Case{FakeDriver::kOutLongMsg, true, false, 1},
                          Case{FakeDriver::kOutReset, false, false, 1},
                          Case{FakeDriver::kOutClose, true, true, 0}}) {
        FakeDriver driver;
        driver.blocks[c.hanging] = true;
        driver.finishesSends = c.finishesSends;
        auto backend = CreateWinmmBackend(driver, kShortBounds);
        const std::size_t leftBefore = BlocksLeftToDrivers();
        auto output = backend->OpenOutput(0);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->Send(Message(1)), c.sent) << c.hanging;
        EXPECT_EQ(output->Gone(), !c.sent) << c.hanging;
        output.reset();
        EXPECT_EQ(driver.InCalls(), 1) << c.hanging;
        EXPECT_EQ(BlocksLeftToDrivers(), leftBefore + c.left) << c.hanging;
    }
}

// The updater's port: a send stuck in the driver for as long as the driver
// is given must keep neither a look at the port nor its close waiting.
TEST(WinmmDriverOutput, AStuckSendKeepsNoOtherThreadWaiting) {
    for (const FakeDriver::Call stuckIn : {FakeDriver::kOutLongMsg, FakeDriver::kCalls}) {
        FakeDriver driver;
        driver.finishesSends = false;
        if (stuckIn != FakeDriver::kCalls) {
            driver.blocks[stuckIn] = true;
        }
        auto backend = CreateWinmmBackend(driver, WinmmBounds{10min, 50ms});
        CDxMidiOut port(*backend);
        ASSERT_EQ(port.Open(0), 1);
        std::atomic<int> sent{-1};
        std::thread sender([&] {
            const Bytes message = Message(1);
            sent = port.SendLongMessage(
                MidiHeader{message.data(), static_cast<std::uint32_t>(message.size())});
        });
        EXPECT_TRUE(WaitUntil([&] { return !driver.Sent().empty() || driver.InCalls() > 0; }, 10s));
        std::atomic<bool> looked{false};
        std::thread looker([&] {
            static_cast<void>(port.Gone());
            looked = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return looked.load(); }, 10s)) << stuckIn;
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            port.Close();
            closed = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return closed.load(); }, 10s)) << stuckIn;
        EXPECT_TRUE(WaitUntil([&] { return sent != -1; }, 10s)) << stuckIn;
        EXPECT_EQ(sent, 0) << stuckIn;
        closer.join();
        looker.join();
        sender.join();
    }
}

TEST(WinmmDriverOutput, PastTheCapNoPortOpensAndTheFirstBlockLeftIsToldOnce) {
    std::vector<std::size_t> told;
    OnFirstBlockLeftToDriver([&](std::size_t left) { told.push_back(left); });
    for (int i = 0; i < 2; ++i) {
        FakeDriver driver;
        driver.finishesSends = false;
        driver.gone = true;
        auto backend = CreateWinmmBackend(driver, kShortBounds);
        auto output = backend->OpenOutput(0);
        ASSERT_NE(output, nullptr);
        EXPECT_FALSE(output->Send(Message(1)));
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_GE(told[0], 1u);

    FakeDriver driver;
    WinmmBounds capped = kShortBounds;
    capped.maxLeftToDrivers = BlocksLeftToDrivers();
    auto backend = CreateWinmmBackend(driver, capped);
    EXPECT_EQ(backend->OpenOutput(0), nullptr);
    EXPECT_EQ(backend->OpenInput(0, [](ByteView) {}), nullptr);
    capped.maxLeftToDrivers = BlocksLeftToDrivers() + 1;
    EXPECT_NE(CreateWinmmBackend(driver, capped)->OpenOutput(0), nullptr);
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

TEST(WinmmDriverOutput, AStuckSendIsTakenBackByAResetAndEnded) {
    FakeDriver driver;
    driver.finishesSends = false;
    driver.recoversOnReset = true;
    auto backend = CreateWinmmBackend(driver, kShortBounds);
    auto output = backend->OpenOutput(0);
    ASSERT_NE(output, nullptr);
    EXPECT_FALSE(output->Send(Message(1)));
    EXPECT_EQ(driver.OutResets(), 1);
    // The reset cut the message: the device is sent the end-of-exclusive byte
    // the reset leaves to the sender.
    EXPECT_EQ(driver.Sent(), (std::vector<Bytes>{Message(1), Bytes{0xF7}}));
    EXPECT_EQ(driver.OutUnprepared(), 2);
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
