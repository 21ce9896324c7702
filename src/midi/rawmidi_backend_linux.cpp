#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "midi/rawmidi_backend.h"
#include "midi/sysex_assembler.h"
#include "midi/usb_socket.h"

namespace corvane::midi {

namespace {

// How long a write may make no progress before the port counts as stuck: a
// device that takes nothing for this long has gone or hung, and the message
// fails instead of blocking its sender for good.
constexpr int kStallMs = 5000;

// The input buffer of an opened port. A USB MIDI driver (either side of the
// link) drops whatever does not fit when a burst arrives faster than the
// reading thread runs; a block write is about 4.7 KB, the default buffer 4 KB.
constexpr std::size_t kInputBuffer = 256 * 1024;

// The output buffer of an opened port, so that a block write goes to the
// driver in one write. The port counts as writable only when its buffer is
// all but empty (alsa-lib allows no more): a send ends by waiting for the
// driver to have taken every byte instead of draining, because the drain
// ioctl ends by dropping whatever the buffer holds, and a USB MIDI driver
// gives up waiting for its transfers after 50 ms.
constexpr std::size_t kOutputBuffer = 64 * 1024;
// How often a send looks again for the last byte to go.
constexpr auto kLastBytePoll = std::chrono::milliseconds(1);

void SilentAlsa(const char*, int, const char*, int, const char*, ...) {}

// alsa-lib prints its complaints (a card that went while it was being looked
// at, say) to stderr; the updater shows none of the MIDI system's texts, so
// they are silenced for the whole process.
void SilenceAlsa() {
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(SilentAlsa); });
}

// Owns an snd_ctl_t for one card.
struct Control {
    snd_ctl_t* handle = nullptr;
    explicit Control(int card) {
        const std::string name = "hw:" + std::to_string(card);
        if (snd_ctl_open(&handle, name.c_str(), 0) < 0) {
            handle = nullptr;
        }
    }
    ~Control() {
        if (handle != nullptr) {
            snd_ctl_close(handle);
        }
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
};

std::string CardName(snd_ctl_t* ctl) {
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl, info) < 0) {
        return {};
    }
    return snd_ctl_card_info_get_name(info);
}

// The subdevices of one raw MIDI device that carry `stream`.
void AddSubdevices(snd_ctl_t* ctl, int card, int device, snd_rawmidi_stream_t stream,
                   const std::string& name, std::vector<RawMidiPort>& ports) {
    snd_rawmidi_info_t* info = nullptr;
    snd_rawmidi_info_alloca(&info);
    snd_rawmidi_info_set_device(info, static_cast<unsigned>(device));
    snd_rawmidi_info_set_stream(info, stream);
    snd_rawmidi_info_set_subdevice(info, 0);
    if (snd_ctl_rawmidi_info(ctl, info) < 0) {
        return;
    }
    const unsigned count = snd_rawmidi_info_get_subdevices_count(info);
    for (unsigned sub = 0; sub < count; ++sub) {
        ports.push_back({name,
                         "hw:" + std::to_string(card) + "," + std::to_string(device) + "," +
                             std::to_string(sub),
                         card});
    }
}

std::vector<RawMidiPort> ListPorts(snd_rawmidi_stream_t stream) {
    SilenceAlsa();
    std::vector<RawMidiPort> ports;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        Control ctl(card);
        if (ctl.handle == nullptr) {
            continue;
        }
        const std::string name = CardName(ctl.handle);
        int device = -1;
        while (snd_ctl_rawmidi_next_device(ctl.handle, &device) == 0 && device >= 0) {
            AddSubdevices(ctl.handle, card, device, stream, name, ports);
        }
    }
    return ports;
}

// Waits until the port is ready for `events`; false on time-out or failure.
bool WaitFor(snd_rawmidi_t* handle, short events, int timeoutMs, unsigned short& revents) {
    const int count = snd_rawmidi_poll_descriptors_count(handle);
    if (count <= 0) {
        return false;
    }
    std::vector<pollfd> fds(static_cast<std::size_t>(count));
    snd_rawmidi_poll_descriptors(handle, fds.data(), static_cast<unsigned>(count));
    for (auto& fd : fds) {
        fd.events = events;
    }
    int ready = 0;
    do {
        ready = poll(fds.data(), fds.size(), timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    return snd_rawmidi_poll_descriptors_revents(handle, fds.data(), fds.size(), &revents) >= 0;
}

class RawOutput final : public OutputConnection {
public:
    explicit RawOutput(snd_rawmidi_t* handle) : m_handle(handle) {}
    ~RawOutput() override { snd_rawmidi_close(m_handle); }
    RawOutput(const RawOutput&) = delete;
    RawOutput& operator=(const RawOutput&) = delete;

    // Writes without blocking for good: waits for the buffer to empty while the
    // driver takes the message, and returns once it has taken all of it.
    bool Send(ByteView message) override {
        if (message.empty()) {
            return false;
        }
        std::size_t done = 0;
        while (done < message.size()) {
            const ssize_t n =
                snd_rawmidi_write(m_handle, message.data() + done, message.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n != -EAGAIN || !Emptied()) {
                NoteGone(n);
                return false;
            }
        }
        return Emptied();
    }
    bool Gone() const override { return m_gone; }

private:
    // An unplugged card's port answers every write with one of these.
    void NoteGone(ssize_t result) {
        if (result == -ENODEV || result == -ENXIO || result == -EBADFD) {
            m_gone = true;
        }
    }

    // Waits until the driver has taken everything written; false when the
    // port failed or took nothing for too long.
    bool Emptied() {
        snd_rawmidi_status_t* status = nullptr;
        snd_rawmidi_status_alloca(&status);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallMs);
        for (;;) {
            unsigned short revents = 0;
            if (!WaitFor(m_handle, POLLOUT, kStallMs, revents)) {
                return false;
            }
            if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
                m_gone = true;
                return false;
            }
            if (!(revents & POLLOUT) || snd_rawmidi_status(m_handle, status) < 0) {
                return false;
            }
            if (snd_rawmidi_status_get_avail(status) >= kOutputBuffer) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(kLastBytePoll);
        }
    }

    snd_rawmidi_t* const m_handle;  // used by Send only, whose caller serialises it
    std::atomic<bool> m_gone{false};
};

class RawInput final : public InputConnection {
public:
    RawInput(snd_rawmidi_t* handle, int stopRead, int stopWrite, InputHandler handler)
        : m_handle(handle),
          m_stopRead(stopRead),
          m_stopWrite(stopWrite),
          m_handler(std::move(handler)),
          m_thread([this] { Run(); }) {}

    ~RawInput() override {
        const char stop = 1;
        while (write(m_stopWrite, &stop, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
        snd_rawmidi_close(m_handle);
        close(m_stopRead);
        close(m_stopWrite);
    }
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;
    bool Gone() const override { return m_gone; }

private:
    // Reads until stopped or until the port fails (it vanished, say).
    void Run() {
        const int count = snd_rawmidi_poll_descriptors_count(m_handle);
        if (count <= 0) {
            return;
        }
        std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
        snd_rawmidi_poll_descriptors(m_handle, fds.data() + 1, static_cast<unsigned>(count));
        fds[0] = {m_stopRead, POLLIN, 0};
        std::uint8_t buffer[4096];
        for (;;) {
            for (auto& fd : fds) {
                fd.revents = 0;
            }
            const int ready = poll(fds.data(), fds.size(), -1);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0 || fds[0].revents != 0) {
                return;
            }
            unsigned short revents = 0;
            if (snd_rawmidi_poll_descriptors_revents(m_handle, fds.data() + 1, fds.size() - 1,
                                                     &revents) < 0 ||
                (revents & (POLLERR | POLLHUP | POLLNVAL))) {
                m_gone = true;
                return;
            }
            if (!(revents & POLLIN)) {
                continue;
            }
            for (;;) {
                const ssize_t n = snd_rawmidi_read(m_handle, buffer, sizeof buffer);
                if (n == -EAGAIN) {
                    break;
                }
                if (n <= 0) {
                    m_gone = true;
                    return;
                }
                m_assembler.Feed(ByteView(buffer, static_cast<std::size_t>(n)), m_handler);
            }
        }
    }

    snd_rawmidi_t* const m_handle;
    const int m_stopRead;
    const int m_stopWrite;
    // Owned by the reading thread while it runs.
    const InputHandler m_handler;
    SysExAssembler m_assembler;
    std::atomic<bool> m_gone{false};  // set by the reading thread when the port failed
    std::thread m_thread;             // last: starts once everything above exists
};

// Opens one direction without waiting for a port another program holds.
snd_rawmidi_t* Open(const std::string& address, bool input) {
    SilenceAlsa();
    snd_rawmidi_t* handle = nullptr;
    const int result =
        input ? snd_rawmidi_open(&handle, nullptr, address.c_str(), SND_RAWMIDI_NONBLOCK)
              : snd_rawmidi_open(nullptr, &handle, address.c_str(), SND_RAWMIDI_NONBLOCK);
    return result < 0 ? nullptr : handle;
}

class RawMidiSource final : public PortSource {
public:
    std::vector<std::string> InputNames() override { return Names(RawMidiInputs()); }
    std::vector<std::string> OutputNames() override { return Names(RawMidiOutputs()); }
    std::vector<std::string> InputSockets() override { return Sockets(RawMidiInputs()); }
    std::vector<std::string> OutputSockets() override { return Sockets(RawMidiOutputs()); }

    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        const auto ports = RawMidiOutputs();
        if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) {
            return nullptr;
        }
        return OpenRawMidiOutput(ports[static_cast<std::size_t>(index)].address);
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        const auto ports = RawMidiInputs();
        if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) {
            return nullptr;
        }
        return OpenRawMidiInput(ports[static_cast<std::size_t>(index)].address, std::move(handler));
    }

private:
    static std::vector<std::string> Sockets(const std::vector<RawMidiPort>& ports) {
        std::vector<std::string> sockets;
        sockets.reserve(ports.size());
        for (const auto& port : ports) {
            sockets.push_back(UsbSocketOfCard(port.card));
        }
        return sockets;
    }
    static std::vector<std::string> Names(const std::vector<RawMidiPort>& ports) {
        std::vector<std::string> names;
        names.reserve(ports.size());
        for (const auto& port : ports) {
            names.push_back(port.name);
        }
        return names;
    }
};

}  // namespace

std::vector<RawMidiPort> RawMidiInputs() {
    return ListPorts(SND_RAWMIDI_STREAM_INPUT);
}

std::vector<RawMidiPort> RawMidiOutputs() {
    return ListPorts(SND_RAWMIDI_STREAM_OUTPUT);
}

std::unique_ptr<PortSource> CreateRawMidiSource() {
    return std::make_unique<RawMidiSource>();
}

std::unique_ptr<OutputConnection> OpenRawMidiOutput(const std::string& address) {
    snd_rawmidi_t* handle = Open(address, false);
    if (handle == nullptr) {
        return nullptr;
    }
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    if (snd_rawmidi_params_current(handle, params) < 0 ||
        snd_rawmidi_params_set_buffer_size(handle, params, kOutputBuffer) < 0 ||
        snd_rawmidi_params_set_avail_min(handle, params, kOutputBuffer - 1) < 0 ||
        snd_rawmidi_params(handle, params) < 0) {
        snd_rawmidi_close(handle);
        return nullptr;
    }
    return std::make_unique<RawOutput>(handle);
}

std::unique_ptr<InputConnection> OpenRawMidiInput(const std::string& address,
                                                  InputHandler handler) {
    snd_rawmidi_t* handle = Open(address, true);
    if (handle == nullptr) {
        return nullptr;
    }
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    if (snd_rawmidi_params_current(handle, params) < 0 ||
        snd_rawmidi_params_set_buffer_size(handle, params, kInputBuffer) < 0 ||
        snd_rawmidi_params(handle, params) < 0) {
        snd_rawmidi_close(handle);
        return nullptr;
    }
    // A driver keeps what arrives only once the input has been started, which a
    // poll does; started here, a reply to the first message sent after Open
    // returns cannot beat the reading thread's first poll and be dropped.
    unsigned short revents = 0;
    WaitFor(handle, POLLIN, 0, revents);
    int stop[2];
    if (pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0) {
        snd_rawmidi_close(handle);
        return nullptr;
    }
    return std::make_unique<RawInput>(handle, stop[0], stop[1], std::move(handler));
}

}  // namespace corvane::midi
