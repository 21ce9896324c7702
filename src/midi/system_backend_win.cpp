#include "midi/system_backend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
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

bool Done(const MIDIHDR& header) {
    // The driver sets the flag on its own thread.
    return (static_cast<const volatile DWORD&>(header.dwFlags) & MHDR_DONE) != 0;
}

// Polls the done flag: an output opened without notifications offers nothing
// else to wait on.
bool WaitDone(const MIDIHDR& header, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!Done(header)) {
        if (std::chrono::steady_clock::now() >= deadline) {
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
        // A reset would also send note-offs to a device that speaks System
        // Exclusive only: it is used just to get back a message the driver holds.
        if (!m_held.empty()) {
            m_driver.OutReset(m_handle);
            std::erase_if(m_held, [this](const std::unique_ptr<OutgoingMessage>& message) {
                return WaitDone(message->header, m_bounds.giveBack) &&
                       m_driver.OutUnprepareHeader(m_handle, &message->header) == MMSYSERR_NOERROR;
            });
            g_blocksLeftToDrivers += m_held.size();
            for (auto& message : m_held) {
                static_cast<void>(message.release());
            }
        }
        // A driver that refuses to close keeps the port; with no callback
        // registered, nothing of this object is left for it to reach.
        m_driver.OutClose(m_handle);
    }

    bool Send(ByteView bytes) override {
        if (bytes.empty() || bytes.size() > UINT32_MAX || m_gone) {
            return false;
        }
        auto message = std::make_unique<OutgoingMessage>(bytes);
        MIDIHDR& header = message->header;
        if (m_driver.OutPrepareHeader(m_handle, &header) != MMSYSERR_NOERROR) {
            return false;
        }
        bool sent = m_driver.OutLongMsg(m_handle, &header) == MMSYSERR_NOERROR;
        if (sent && !WaitDone(header, SendBound(bytes.size()))) {
            // A stuck driver: reset hands the message back marked done.
            sent = false;
            m_driver.OutReset(m_handle);
            if (!WaitDone(header, m_bounds.giveBack)) {
                Hold(std::move(message));
                return false;
            }
        }
        if (m_driver.OutUnprepareHeader(m_handle, &header) != MMSYSERR_NOERROR) {
            Hold(std::move(message));
            return false;
        }
        return sent;
    }

    bool Gone() const override { return m_gone; }

private:
    std::chrono::milliseconds SendBound(std::size_t bytes) const {
        // About three bytes a millisecond on the wire.
        return m_bounds.sendGrace + std::chrono::milliseconds(bytes / 3);
    }

    // A driver that will not give a message back even when reset has lost its
    // device: the message stays with it, and the port sends nothing more.
    void Hold(std::unique_ptr<OutgoingMessage> message) {
        m_held.push_back(std::move(message));
        m_gone = true;
    }

    WinmmDriver& m_driver;
    const WinmmBounds m_bounds;
    const HMIDIOUT m_handle;
    // Touched by Send and the destructor, which the owner never runs at once.
    std::vector<std::unique_ptr<OutgoingMessage>> m_held;
    std::atomic<bool> m_gone{false};
};

// What the driver's callback reaches, apart from the connection: when a driver
// will not give its buffers back, all of it is left to the driver, while the
// connection and its handler go.
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

    // The driver's thread. Nothing here calls winmm, which its callbacks must
    // not: the buffer goes to the receive thread.
    void GiveBack(const MIDIHDR* header, bool broken) {
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            if (header == &headers[i]) {
                {
                    std::lock_guard lock(mutex);
                    withDriver[i] = false;
                    returned.push_back({i, broken});
                }
                changed.notify_all();
                return;
            }
        }
    }

    bool AnyWithDriver() const {
        return std::find(withDriver.begin(), withDriver.end(), true) != withDriver.end();
    }
};

class WinmmInput final : public InputConnection {
public:
    WinmmInput(WinmmDriver& driver, WinmmBounds bounds, InputHandler handler)
        : m_driver(driver),
          m_bounds(bounds),
          m_buffers(std::make_unique<ReceiveBuffers>()),
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
            // The driver may still write into the buffers and call back with
            // them: they, and what the callback points to, stay its own.
            static_cast<void>(m_buffers.release());
            ++g_blocksLeftToDrivers;
        }
    }

    bool Open(UINT index) {
        if (m_driver.InOpen(&m_handle, index, &WinmmInput::Callback,
                            reinterpret_cast<DWORD_PTR>(m_buffers.get())) != MMSYSERR_NOERROR) {
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
        {
            std::lock_guard lock(m_buffers->mutex);
            m_buffers->withDriver[index] = true;
        }
        if (m_driver.InAddBuffer(m_handle, &header) == MMSYSERR_NOERROR) {
            return true;
        }
        std::lock_guard lock(m_buffers->mutex);
        m_buffers->withDriver[index] = false;
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
        // Whether it stopped matters not: reset follows, and it is checked.
        m_driver.InStop(m_handle);
        // Reset marks every queued buffer done and gives it back.
        if (m_driver.InReset(m_handle) == MMSYSERR_NOERROR) {
            std::unique_lock lock(m_buffers->mutex);
            m_buffers->changed.wait_for(lock, m_bounds.giveBack,
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
        return m_driver.InClose(m_handle) == MMSYSERR_NOERROR && released;
    }

    WinmmDriver& m_driver;
    const WinmmBounds m_bounds;
    HMIDIIN m_handle = nullptr;  // set by Open before any buffer is queued
    std::unique_ptr<ReceiveBuffers> m_buffers;
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
        if (index < 0 || static_cast<UINT>(index) >= m_driver.OutGetNumDevs()) {
            return nullptr;
        }
        HMIDIOUT handle = nullptr;
        if (m_driver.OutOpen(&handle, static_cast<UINT>(index)) != MMSYSERR_NOERROR) {
            return nullptr;
        }
        return std::make_unique<WinmmOutput>(m_driver, m_bounds, handle);
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        if (index < 0 || static_cast<UINT>(index) >= m_driver.InGetNumDevs()) {
            return nullptr;
        }
        auto input = std::make_unique<WinmmInput>(m_driver, m_bounds, std::move(handler));
        if (!input->Open(static_cast<UINT>(index))) {
            return nullptr;  // the destructor undoes what Open did
        }
        return input;
    }

private:
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

std::unique_ptr<MidiBackend> CreateSystemBackend() {
    return CreateWinmmBackend(SystemWinmm());
}

// winmm has no virtual ports: a simulated device cannot appear as a device.
std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string&, InputHandler) {
    return nullptr;
}

}  // namespace corvane::midi
