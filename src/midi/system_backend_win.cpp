#include "midi/system_backend.h"

#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "midi/port_names.h"
#include "midi/sysex_assembler.h"
#include "midi/utf16_win.h"

namespace corvane::midi {

namespace {

// Receive buffers queued with the driver at a time: while one is being
// copied in the callback the others still take data.
constexpr std::size_t kReceiveBuffers = 4;
constexpr std::size_t kReceiveBufferBytes = 8192;

// How long a send may take before the driver is told to give the message
// back: a generous start plus the time the bytes need at the MIDI wire's
// 31,250 baud (about three bytes a millisecond).
std::chrono::milliseconds SendBound(std::size_t bytes) {
    return std::chrono::milliseconds(5000 + static_cast<std::int64_t>(bytes / 3));
}

bool Done(const MIDIHDR& header) {
    // The driver sets the flag on its own thread.
    return (static_cast<const volatile DWORD&>(header.dwFlags) & MHDR_DONE) != 0;
}

class WinmmOutput final : public OutputConnection {
public:
    explicit WinmmOutput(HMIDIOUT handle) : m_handle(handle) {}
    ~WinmmOutput() override {
        midiOutReset(m_handle);
        midiOutClose(m_handle);
    }

    bool Send(ByteView message) override {
        if (message.empty() || message.size() > UINT32_MAX) {
            return false;
        }
        MIDIHDR header{};
        // winmm takes a writable pointer but only reads an output buffer.
        header.lpData = const_cast<LPSTR>(reinterpret_cast<const char*>(message.data()));
        header.dwBufferLength = static_cast<DWORD>(message.size());
        if (midiOutPrepareHeader(m_handle, &header, sizeof header) != MMSYSERR_NOERROR) {
            return false;
        }
        bool sent = midiOutLongMsg(m_handle, &header, sizeof header) == MMSYSERR_NOERROR;
        if (sent) {
            const auto deadline = std::chrono::steady_clock::now() + SendBound(message.size());
            while (!Done(header) && std::chrono::steady_clock::now() < deadline) {
                Sleep(1);
            }
            if (!Done(header)) {
                // A stuck driver: reset hands the buffer back marked done.
                midiOutReset(m_handle);
                while (!Done(header)) {
                    Sleep(1);
                }
                sent = false;
            }
        }
        midiOutUnprepareHeader(m_handle, &header, sizeof header);
        return sent;
    }

private:
    const HMIDIOUT m_handle;
};

class WinmmInput final : public InputConnection {
public:
    explicit WinmmInput(InputHandler handler) : m_handler(std::move(handler)) {
        for (std::size_t i = 0; i < kReceiveBuffers; ++i) {
            m_headers[i].lpData = m_data[i].data();
            m_headers[i].dwBufferLength = static_cast<DWORD>(kReceiveBufferBytes);
        }
    }

    ~WinmmInput() override {
        {
            std::lock_guard lock(m_mutex);
            m_open = false;
        }
        if (m_handle == nullptr) {
            return;
        }
        midiInStop(m_handle);
        // Reset gives every queued buffer back; the callback no longer queues them.
        midiInReset(m_handle);
        for (MIDIHDR& header : m_headers) {
            if ((header.dwFlags & MHDR_PREPARED) != 0) {
                midiInUnprepareHeader(m_handle, &header, sizeof header);
            }
        }
        midiInClose(m_handle);
    }

    bool Open(UINT index) {
        if (midiInOpen(&m_handle, index, reinterpret_cast<DWORD_PTR>(&WinmmInput::Callback),
                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
            m_handle = nullptr;
            return false;
        }
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        for (MIDIHDR& header : m_headers) {
            if (midiInPrepareHeader(m_handle, &header, sizeof header) != MMSYSERR_NOERROR ||
                midiInAddBuffer(m_handle, &header, sizeof header) != MMSYSERR_NOERROR) {
                return false;
            }
        }
        return midiInStart(m_handle) == MMSYSERR_NOERROR;
    }

private:
    // Runs on the driver's thread.
    static void CALLBACK Callback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR) {
        if (message != MIM_LONGDATA && message != MIM_LONGERROR) {
            return;  // short messages: the device speaks System Exclusive only
        }
        reinterpret_cast<WinmmInput*>(instance)->OnBuffer(reinterpret_cast<MIDIHDR*>(param1),
                                                          message == MIM_LONGERROR);
    }

    void OnBuffer(MIDIHDR* header, bool broken) {
        std::lock_guard lock(m_mutex);
        if (!m_open) {
            return;  // given back by the reset of closing: not queued again
        }
        if (broken) {
            m_assembler.Clear();
        } else {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
            const std::size_t count =
                std::min<std::size_t>(header->dwBytesRecorded, kReceiveBufferBytes);
            m_assembler.Feed(ByteView(bytes, count), [this](ByteView whole) {
                if (m_handler) {
                    m_handler(whole);
                }
            });
        }
        // The header stays prepared; queue it again at once.
        header->dwBytesRecorded = 0;
        midiInAddBuffer(m_handle, header, sizeof *header);
    }

    HMIDIIN m_handle = nullptr;  // set by Open before any buffer is queued
    std::array<MIDIHDR, kReceiveBuffers> m_headers{};
    std::array<std::array<char, kReceiveBufferBytes>, kReceiveBuffers> m_data{};
    // Guards m_open and m_assembler; held while the handler runs, so that
    // closing waits for a delivery in progress.
    std::mutex m_mutex;
    bool m_open = false;
    SysExAssembler m_assembler;
    const InputHandler m_handler;
};

template <typename Caps, typename GetCaps>
std::vector<std::string> DeviceNames(UINT count, GetCaps getCaps) {
    std::vector<std::string> names;
    for (UINT i = 0; i < count; ++i) {
        Caps caps{};
        // A device gone between counting and naming keeps its place, unnamed.
        if (getCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
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
    std::vector<std::string> InputPortNames() override {
        return DeviceNames<MIDIINCAPSW>(
            midiInGetNumDevs(),
            [](UINT i, MIDIINCAPSW* caps, UINT size) { return midiInGetDevCapsW(i, caps, size); });
    }

    std::vector<std::string> OutputPortNames() override {
        return DeviceNames<MIDIOUTCAPSW>(midiOutGetNumDevs(),
                                         [](UINT i, MIDIOUTCAPSW* caps, UINT size) {
                                             return midiOutGetDevCapsW(i, caps, size);
                                         });
    }

    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        if (index < 0 || static_cast<UINT>(index) >= midiOutGetNumDevs()) {
            return nullptr;
        }
        HMIDIOUT handle = nullptr;
        if (midiOutOpen(&handle, static_cast<UINT>(index), 0, 0, CALLBACK_NULL) !=
            MMSYSERR_NOERROR) {
            return nullptr;
        }
        return std::make_unique<WinmmOutput>(handle);
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        if (index < 0 || static_cast<UINT>(index) >= midiInGetNumDevs()) {
            return nullptr;
        }
        auto input = std::make_unique<WinmmInput>(std::move(handler));
        if (!input->Open(static_cast<UINT>(index))) {
            return nullptr;  // the destructor undoes what Open did
        }
        return input;
    }
};

}  // namespace

std::unique_ptr<MidiBackend> CreateSystemBackend() {
    return std::make_unique<WinmmBackend>();
}

// winmm has no virtual ports: a simulated device cannot appear as a device.
std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string&, InputHandler) {
    return nullptr;
}

}  // namespace corvane::midi
