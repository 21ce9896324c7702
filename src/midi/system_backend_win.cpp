#include "midi/system_backend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "midi/port_names.h"
#include "midi/sysex_assembler.h"
#include "midi/utf16_win.h"
#include "midi/winmm_driver_win.h"

namespace corvane::midi {

namespace {

// Receive buffers queued with the driver at a time: while one is being
// copied the others still take data.
constexpr std::size_t kReceiveBuffers = 4;
constexpr std::size_t kReceiveBufferBytes = 8192;

std::atomic<std::size_t> g_blocksLeftToDrivers{0};
std::mutex g_leftNoticeMutex;
std::function<void(std::size_t)> g_leftNotice;  // guarded by g_leftNoticeMutex

void NoteLeftToDriver() {
    const std::size_t left = ++g_blocksLeftToDrivers;
    std::function<void(std::size_t)> notice;
    {
        std::lock_guard lock(g_leftNoticeMutex);
        notice = std::move(g_leftNotice);  // once per process
        g_leftNotice = nullptr;
    }
    if (notice) {
        notice(left);
    }
}

class SystemDriver final : public WinmmDriver {
public:
    UINT InGetNumDevs() override { return midiInGetNumDevs(); }
    MMRESULT InGetDevCaps(UINT device, MIDIINCAPSW* caps) override {
        return midiInGetDevCapsW(device, caps, sizeof *caps);
    }
    MMRESULT InOpen(HMIDIIN* handle, UINT device, MidiInProc callback,
                    DWORD_PTR instance) override {
        return midiInOpen(handle, device, reinterpret_cast<DWORD_PTR>(callback), instance,
                          CALLBACK_FUNCTION);
    }
    MMRESULT InPrepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        return midiInPrepareHeader(handle, header, sizeof *header);
    }
    MMRESULT InUnprepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        return midiInUnprepareHeader(handle, header, sizeof *header);
    }
    MMRESULT InAddBuffer(HMIDIIN handle, MIDIHDR* header) override {
        return midiInAddBuffer(handle, header, sizeof *header);
    }
    MMRESULT InStart(HMIDIIN handle) override { return midiInStart(handle); }
    MMRESULT InStop(HMIDIIN handle) override { return midiInStop(handle); }
    MMRESULT InReset(HMIDIIN handle) override { return midiInReset(handle); }
    MMRESULT InClose(HMIDIIN handle) override { return midiInClose(handle); }

    UINT OutGetNumDevs() override { return midiOutGetNumDevs(); }
    MMRESULT OutGetDevCaps(UINT device, MIDIOUTCAPSW* caps) override {
        return midiOutGetDevCapsW(device, caps, sizeof *caps);
    }
    MMRESULT OutOpen(HMIDIOUT* handle, UINT device) override {
        return midiOutOpen(handle, device, 0, 0, CALLBACK_NULL);
    }
    MMRESULT OutPrepareHeader(HMIDIOUT handle, MIDIHDR* header) override {
        return midiOutPrepareHeader(handle, header, sizeof *header);
    }
    MMRESULT OutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header) override {
        return midiOutUnprepareHeader(handle, header, sizeof *header);
    }
    MMRESULT OutLongMsg(HMIDIOUT handle, MIDIHDR* header) override {
        return midiOutLongMsg(handle, header, sizeof *header);
    }
    MMRESULT OutReset(HMIDIOUT handle) override { return midiOutReset(handle); }
    MMRESULT OutClose(HMIDIOUT handle) override { return midiOutClose(handle); }
};

using Clock = std::chrono::steady_clock;

// Set by the owner of a connection to end its waits at once.
using Cancel = std::atomic<bool>;

// Makes a winmm call that a driver may never return from (a send, a reset,
// a close: whether they return at once is the driver's choice) on a thread
// of its own, and waits for it until `deadline`, or for `afterCancel` once
// `cancel` is set. Empty when the call has not returned by then: its thread
// goes on without the caller, and whatever the call points to must stay with
// the driver.
std::optional<MMRESULT> CallBounded(std::function<MMRESULT()> call, Clock::time_point deadline,
                                    const Cancel* cancel = nullptr,
                                    std::chrono::milliseconds afterCancel = {}) {
    struct State {
        std::mutex mutex;
        std::condition_variable returned;
        std::optional<MMRESULT> result;  // guarded by mutex
    };
    auto state = std::make_shared<State>();
    try {
        std::thread([state, call = std::move(call)] {
            const MMRESULT result = call();
            std::lock_guard lock(state->mutex);
            state->result = result;
            state->returned.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(state->mutex);
    bool cancelled = false;
    // In slices, so that a cancel is seen soon.
    constexpr auto kSlice = std::chrono::milliseconds(2);
    while (!state->result && Clock::now() < deadline) {
        if (!cancelled && cancel != nullptr && *cancel) {
            cancelled = true;
            deadline = std::min(deadline, Clock::now() + afterCancel);
        }
        state->returned.wait_until(lock, std::min(deadline, Clock::now() + kSlice));
    }
    return state->result;
}

bool Done(const MIDIHDR& header) {
    // The driver sets the flag on its own thread.
    return (static_cast<const volatile DWORD&>(header.dwFlags) & MHDR_DONE) != 0;
}

// Polls the done flag: an output opened without notifications offers nothing
// else to wait on.
bool WaitDone(const MIDIHDR& header, Clock::time_point deadline, const Cancel* cancel = nullptr) {
    while (!Done(header)) {
        if (Clock::now() >= deadline || (cancel != nullptr && *cancel)) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// One message on its way out, header and bytes owned here, so that a driver
// that never hands the message back can be left with both.
struct OutgoingMessage {
    explicit OutgoingMessage(ByteView message) : bytes(message.begin(), message.end()) {
        header.lpData = bytes.data();
        header.dwBufferLength = static_cast<DWORD>(bytes.size());
    }
    std::vector<char> bytes;
    MIDIHDR header{};
};

class WinmmOutput final : public OutputConnection {
public:
    WinmmOutput(WinmmDriver& driver, WinmmBounds bounds, HMIDIOUT handle)
        : m_driver(driver), m_bounds(bounds), m_handle(handle) {}

    ~WinmmOutput() override {
        const auto deadline = Clock::now() + m_bounds.giveBack;
        if (!m_held.empty() && !m_hung && Reset(deadline)) {
            std::erase_if(m_held, [this,
                                   deadline](const std::unique_ptr<OutgoingMessage>& message) {
                return WaitDone(message->header, deadline) &&
                       m_driver.OutUnprepareHeader(m_handle, &message->header) == MMSYSERR_NOERROR;
            });
        }
        for (auto& message : m_held) {
            static_cast<void>(message.release());
            NoteLeftToDriver();
        }
        for (std::size_t i = 0; i < m_inDriver; ++i) {
            NoteLeftToDriver();
        }
        // A driver that refuses to close keeps the port; with no callback
        // registered, nothing of this object is left for it to reach.
        if (m_hung) {
            return;  // a driver that hangs in a call is called no more
        }
        CallBounded([&driver = m_driver, handle = m_handle] { return driver.OutClose(handle); },
                    Clock::now() + m_bounds.giveBack);
    }

    bool Send(ByteView bytes) override {
        if (bytes.empty() || bytes.size() > UINT32_MAX || m_gone || m_cancel) {
            return false;
        }
        const auto deadline = Clock::now() + SendBound(bytes.size());
        auto message = std::make_unique<OutgoingMessage>(bytes);
        switch (Transmit(*message, deadline)) {
            case Transmitted::kDone:
                return Unprepare(std::move(message));
            case Transmitted::kRefused:
                Unprepare(std::move(message));
                return false;
            case Transmitted::kStuck:
                break;
            case Transmitted::kInDriver:
                Leave(std::move(message));
                return false;
        }
        // A stuck driver: reset hands the message back marked done. It does
        // not end the System Exclusive message it cut; the device is told.
        if (m_cancel || !Reset(Clock::now() + m_bounds.giveBack) ||
            !WaitDone(message->header, Clock::now() + m_bounds.giveBack, &m_cancel)) {
            Hold(std::move(message));
            return false;
        }
        if (Unprepare(std::move(message))) {
            EndExclusive();
        }
        return false;
    }

    bool Gone() const override { return m_gone; }

    void Abandon() override { m_cancel = true; }

private:
    enum class Transmitted {
        kDone,      // the driver has sent it
        kRefused,   // the driver did not take it
        kStuck,     // the driver took it and has not sent it
        kInDriver,  // the driver has not returned from taking it
    };

    std::chrono::milliseconds SendBound(std::size_t bytes) const {
        // About three bytes a millisecond on the wire.
        return m_bounds.sendGrace + std::chrono::milliseconds(bytes / 3);
    }

    Transmitted Transmit(OutgoingMessage& message, Clock::time_point deadline) {
        MIDIHDR* header = &message.header;
        if (m_driver.OutPrepareHeader(m_handle, header) != MMSYSERR_NOERROR) {
            return Transmitted::kRefused;
        }
        const std::optional<MMRESULT> taken =
            CallBounded([&driver = m_driver, handle = m_handle,
                         header] { return driver.OutLongMsg(handle, header); },
                        deadline, &m_cancel, m_bounds.giveBack);
        if (!taken) {
            return Transmitted::kInDriver;
        }
        if (*taken != MMSYSERR_NOERROR) {
            return Transmitted::kRefused;
        }
        return WaitDone(*header, deadline, &m_cancel) ? Transmitted::kDone : Transmitted::kStuck;
    }

    bool Reset(Clock::time_point deadline) {
        const std::optional<MMRESULT> reset = CallBounded(
            [&driver = m_driver, handle = m_handle] { return driver.OutReset(handle); }, deadline);
        if (!reset) {
            m_hung = true;
            m_gone = true;
        }
        return reset == MMSYSERR_NOERROR;
    }

    // The end-of-exclusive byte after a reset cut a message, which the reset
    // leaves to the sender; a driver that keeps it has lost its device.
    void EndExclusive() {
        static constexpr std::uint8_t kEndOfExclusive[] = {0xF7};
        auto message = std::make_unique<OutgoingMessage>(ByteView(kEndOfExclusive));
        switch (Transmit(*message, Clock::now() + m_bounds.giveBack)) {
            case Transmitted::kDone:
            case Transmitted::kRefused:
                Unprepare(std::move(message));
                return;
            case Transmitted::kStuck:
                Hold(std::move(message));
                return;
            case Transmitted::kInDriver:
                Leave(std::move(message));
                return;
        }
    }

    // True when the driver let the message go; otherwise it keeps it.
    bool Unprepare(std::unique_ptr<OutgoingMessage> message) {
        if (m_driver.OutUnprepareHeader(m_handle, &message->header) == MMSYSERR_NOERROR) {
            return true;
        }
        Hold(std::move(message));
        return false;
    }

    // A driver that will not give a message back even when reset has lost its
    // device: the message stays with it, and the port sends nothing more.
    void Hold(std::unique_ptr<OutgoingMessage> message) {
        m_held.push_back(std::move(message));
        m_gone = true;
    }

    // A message whose send has not returned: its call still points at it.
    void Leave(std::unique_ptr<OutgoingMessage> message) {
        static_cast<void>(message.release());
        ++m_inDriver;
        m_hung = true;
        m_gone = true;
    }

    WinmmDriver& m_driver;
    const WinmmBounds m_bounds;
    const HMIDIOUT m_handle;
    // Touched by Send and the destructor, which the owner never runs at once.
    std::vector<std::unique_ptr<OutgoingMessage>> m_held;
    std::size_t m_inDriver = 0;  // messages left in a call that has not returned
    bool m_hung = false;         // a call has not returned
    std::atomic<bool> m_gone{false};
    Cancel m_cancel{false};
};

// What the driver's callback reaches, apart from the connection: shared by the
// connection and the driver, freed by whichever lets go of it last, so that a
// callback still returning when the connection closes, or one that comes
// after a close the driver refused, touches live memory.
struct ReceiveBuffers {
    struct Returned {
        std::size_t index;
        bool broken;  // MIM_LONGERROR: the message in it is cut
    };

    std::array<MIDIHDR, kReceiveBuffers> headers{};
    std::array<std::array<char, kReceiveBufferBytes>, kReceiveBuffers> data{};

    // Guards what follows. Never held during a winmm call, since the driver
    // may call back from inside one.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Returned> returned;  // given back by the driver, oldest first
    std::array<bool, kReceiveBuffers> withDriver{};
    bool stop = false;  // the receive thread ends

    ReceiveBuffers() {
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = static_cast<DWORD>(kReceiveBufferBytes);
        }
    }

    // The connection holds one; each buffer with the driver holds one more.
    void Hold() { ++m_holders; }
    void Release() {
        if (--m_holders == 0) {
            delete this;
        }
    }

    // The driver's thread. Nothing here calls winmm, which its callbacks must
    // not: the buffer goes to the receive thread.
    void GiveBack(const MIDIHDR* header, bool broken) {
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            if (header == &headers[i]) {
                {
                    std::lock_guard lock(mutex);
                    if (!withDriver[i]) {
                        return;  // not the driver's to give back
                    }
                    withDriver[i] = false;
                    returned.push_back({i, broken});
                }
                changed.notify_all();
                Release();  // the last touch: this may be freed here
                return;
            }
        }
    }

    bool AnyWithDriver() const {
        return std::find(withDriver.begin(), withDriver.end(), true) != withDriver.end();
    }

private:
    std::atomic<int> m_holders{1};
};

class WinmmInput final : public InputConnection {
public:
    WinmmInput(WinmmDriver& driver, WinmmBounds bounds, InputHandler handler)
        : m_driver(driver),
          m_bounds(bounds),
          m_buffers(new ReceiveBuffers),
          m_handler(std::move(handler)) {}

    ~WinmmInput() override {
        const bool released = m_handle == nullptr || Close();
        if (m_receiver.joinable()) {
            {
                std::lock_guard lock(m_buffers->mutex);
                m_buffers->stop = true;
            }
            m_buffers->changed.notify_all();
            m_receiver.join();
        }
        if (!released) {
            // The driver may still write into the buffers it holds and call
            // back with them; they go when it gives the last one back.
            NoteLeftToDriver();
        }
        m_buffers->Release();
    }

    bool Open(UINT index) {
        if (m_driver.InOpen(&m_handle, index, &WinmmInput::Callback,
                            reinterpret_cast<DWORD_PTR>(m_buffers)) != MMSYSERR_NOERROR) {
            m_handle = nullptr;
            return false;
        }
        try {
            m_receiver = std::thread([this] { Receive(); });
        } catch (const std::system_error&) {
            return false;
        }
        std::lock_guard driverLock(m_driverMutex);
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            if (m_driver.InPrepareHeader(m_handle, &m_buffers->headers[i]) != MMSYSERR_NOERROR) {
                return false;
            }
            m_prepared[i] = true;
            if (!Queue(i)) {
                return false;
            }
        }
        return m_driver.InStart(m_handle) == MMSYSERR_NOERROR;
    }

    bool Gone() const override { return m_gone; }

private:
    static void CALLBACK Callback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR) {
        if (message != MIM_LONGDATA && message != MIM_LONGERROR) {
            return;  // short messages: the device speaks System Exclusive only
        }
        reinterpret_cast<ReceiveBuffers*>(instance)->GiveBack(reinterpret_cast<MIDIHDR*>(param1),
                                                              message == MIM_LONGERROR);
    }

    // Hands the buffer to the driver; false when the driver refuses it.
    // m_driverMutex held.
    bool Queue(std::size_t index) {
        MIDIHDR& header = m_buffers->headers[index];
        header.dwBytesRecorded = 0;
        // Marked first: the driver may give it back before AddBuffer returns.
        m_buffers->Hold();
        {
            std::lock_guard lock(m_buffers->mutex);
            m_buffers->withDriver[index] = true;
        }
        if (m_driver.InAddBuffer(m_handle, &header) == MMSYSERR_NOERROR) {
            return true;
        }
        {
            std::lock_guard lock(m_buffers->mutex);
            m_buffers->withDriver[index] = false;
        }
        m_buffers->Release();  // never the last: the connection holds one
        return false;
    }
    // The receive thread: takes each buffer the driver gave back, hands its
    // bytes on and queues it again.
    void Receive() {
        std::unique_lock lock(m_buffers->mutex);
        while (true) {
            m_buffers->changed.wait(
                lock, [this] { return m_buffers->stop || !m_buffers->returned.empty(); });
            if (m_buffers->stop) {
                return;
            }
            const ReceiveBuffers::Returned returned = m_buffers->returned.front();
            m_buffers->returned.pop_front();
            lock.unlock();
            Take(returned);
            lock.lock();
        }
    }

    void Take(const ReceiveBuffers::Returned& returned) {
        std::lock_guard driverLock(m_driverMutex);
        if (m_closing) {
            return;  // given back by the reset of closing: neither read nor queued again
        }
        if (returned.broken) {
            m_assembler.Clear();
        } else {
            const MIDIHDR& header = m_buffers->headers[returned.index];
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(header.lpData);
            const std::size_t count =
                std::min<std::size_t>(header.dwBytesRecorded, kReceiveBufferBytes);
            m_assembler.Feed(ByteView(bytes, count), [this](ByteView whole) {
                if (m_handler) {
                    m_handler(whole);
                }
            });
        }
        // A buffer the driver refused waits here and is offered again with the
        // next one it gives back; once it holds none, it gives none back, and
        // nothing can be received any more.
        m_idle.push_back(returned.index);
        std::erase_if(m_idle, [this](std::size_t index) { return Queue(index); });
        if (m_idle.size() == kReceiveBuffers) {
            m_gone = true;
        }
    }

    // True when the driver has given everything back and let the port go.
    bool Close() {
        {
            std::lock_guard driverLock(m_driverMutex);
            m_closing = true;
        }
        // A driver that hangs in a call costs the thread of that call, never
        // the closer, and is called no more: all it has is left to it.
        WinmmDriver& driver = m_driver;
        const HMIDIIN handle = m_handle;
        const auto bound = [this] { return Clock::now() + m_bounds.giveBack; };
        // Whether it stopped matters not: reset follows, and it is checked.
        if (!CallBounded([&driver, handle] { return driver.InStop(handle); }, bound())) {
            return false;
        }
        // Reset marks every queued buffer done and gives it back, within one
        // bound for both.
        const auto deadline = bound();
        const std::optional<MMRESULT> reset =
            CallBounded([&driver, handle] { return driver.InReset(handle); }, deadline);
        if (!reset) {
            return false;
        }
        if (*reset == MMSYSERR_NOERROR) {
            std::unique_lock lock(m_buffers->mutex);
            m_buffers->changed.wait_until(lock, deadline,
                                          [this] { return !m_buffers->AnyWithDriver(); });
        }
        bool released = true;
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            bool withDriver = false;
            {
                std::lock_guard lock(m_buffers->mutex);
                withDriver = m_buffers->withDriver[i];
            }
            if (withDriver ||
                (m_prepared[i] && m_driver.InUnprepareHeader(m_handle, &m_buffers->headers[i]) !=
                                      MMSYSERR_NOERROR)) {
                released = false;
            }
        }
        // Closed, the driver calls back no more; refused, it still may.
        return CallBounded([&driver, handle] { return driver.InClose(handle); }, bound()) ==
                   MMSYSERR_NOERROR &&
               released;
    }

    WinmmDriver& m_driver;
    const WinmmBounds m_bounds;
    HMIDIIN m_handle = nullptr;                      // set by Open before any buffer is queued
    ReceiveBuffers* const m_buffers;                 // one of its holders
    std::array<bool, kReceiveBuffers> m_prepared{};  // Open and Close only
    std::thread m_receiver;
    std::atomic<bool> m_gone{false};

    // Held while a buffer is handed on and queued again, so that closing
    // waits for that and no buffer is queued once it has begun.
    std::mutex m_driverMutex;
    bool m_closing = false;
    std::vector<std::size_t> m_idle;  // refused by the driver
    SysExAssembler m_assembler;       // the receive thread only
    const InputHandler m_handler;
};

template <typename Caps, typename GetCaps>
std::vector<std::string> DeviceNames(UINT count, GetCaps getCaps) {
    std::vector<std::string> names;
    for (UINT i = 0; i < count; ++i) {
        Caps caps{};
        // A device gone between counting and naming keeps its place, unnamed.
        if (getCaps(i, &caps) == MMSYSERR_NOERROR) {
            caps.szPname[MAXPNAMELEN - 1] = L'\0';
            names.push_back(Utf8FromUtf16(caps.szPname));
        } else {
            names.emplace_back();
        }
    }
    return NumberDuplicates(std::move(names));
}

class WinmmBackend final : public MidiBackend {
public:
    WinmmBackend(WinmmDriver& driver, WinmmBounds bounds) : m_driver(driver), m_bounds(bounds) {}

    std::vector<std::string> InputPortNames() override {
        return DeviceNames<MIDIINCAPSW>(m_driver.InGetNumDevs(), [this](UINT i, MIDIINCAPSW* caps) {
            return m_driver.InGetDevCaps(i, caps);
        });
    }

    std::vector<std::string> OutputPortNames() override {
        return DeviceNames<MIDIOUTCAPSW>(
            m_driver.OutGetNumDevs(),
            [this](UINT i, MIDIOUTCAPSW* caps) { return m_driver.OutGetDevCaps(i, caps); });
    }

    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        if (TooMuchLeft() || index < 0 || static_cast<UINT>(index) >= m_driver.OutGetNumDevs()) {
            return nullptr;
        }
        HMIDIOUT handle = nullptr;
        if (m_driver.OutOpen(&handle, static_cast<UINT>(index)) != MMSYSERR_NOERROR) {
            return nullptr;
        }
        return std::make_unique<WinmmOutput>(m_driver, m_bounds, handle);
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        if (TooMuchLeft() || index < 0 || static_cast<UINT>(index) >= m_driver.InGetNumDevs()) {
            return nullptr;
        }
        auto input = std::make_unique<WinmmInput>(m_driver, m_bounds, std::move(handler));
        if (!input->Open(static_cast<UINT>(index))) {
            return nullptr;  // the destructor undoes what Open did
        }
        return input;
    }

private:
    // Each port closed on a driver that kept what it was given may leave as
    // much again: past the cap, none is opened.
    bool TooMuchLeft() const { return g_blocksLeftToDrivers >= m_bounds.maxLeftToDrivers; }

    WinmmDriver& m_driver;
    const WinmmBounds m_bounds;
};

}  // namespace

WinmmDriver& SystemWinmm() {
    static SystemDriver driver;
    return driver;
}

std::unique_ptr<MidiBackend> CreateWinmmBackend(WinmmDriver& driver, WinmmBounds bounds) {
    return std::make_unique<WinmmBackend>(driver, bounds);
}

std::size_t BlocksLeftToDrivers() {
    return g_blocksLeftToDrivers;
}

void OnFirstBlockLeftToDriver(std::function<void(std::size_t)> notice) {
    std::lock_guard lock(g_leftNoticeMutex);
    g_leftNotice = std::move(notice);
}

std::unique_ptr<MidiBackend> CreateSystemBackend() {
    return CreateWinmmBackend(SystemWinmm());
}

// winmm has no virtual ports: a simulated device cannot appear as a device.
std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string&, InputHandler) {
    return nullptr;
}

}  // namespace corvane::midi
