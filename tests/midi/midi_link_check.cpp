// Sends numbered System Exclusive messages of a block's size out of one port
// of the system's MIDI stack and takes them back in on another, joined by a
// loopback (a cable, or the ALSA sequencer's "Midi Through"), then says how
// many came back whole, once and in order:
//   midi_link_check --in NAME --out NAME [--count N] [--size BYTES] [--window N]
// A few messages travel at once, as between the updater and a device, so that
// a stack that drops, doubles or damages messages under steady load shows it.
// Exit 0 when every message came back once and whole, 1 otherwise, 2 for a
// usage error.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "midi/sysex_assembler.h"
#include "midi/system_backend.h"
#include "program/exit_codes.h"

namespace {

using namespace corvane::midi;
using Clock = std::chrono::steady_clock;

// A silent link for this long ends the check: what has not come is lost.
constexpr auto kPatience = std::chrono::seconds(10);
constexpr std::size_t kHeader = 5;  // F0, 7D (non-commercial), three number bytes

struct Options {
    std::string in;
    std::string out;
    long count = 2000;
    long size = 4700;
    long window = 4;
};

std::uint8_t PatternByte(long number, std::size_t i) {
    return static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(number)) & 0x7F);
}

Bytes Message(long number, std::size_t size) {
    Bytes message(size);
    message[0] = 0xF0;
    message[1] = 0x7D;
    message[2] = static_cast<std::uint8_t>((number >> 14) & 0x7F);
    message[3] = static_cast<std::uint8_t>((number >> 7) & 0x7F);
    message[4] = static_cast<std::uint8_t>(number & 0x7F);
    for (std::size_t i = kHeader; i + 1 < size; ++i) {
        message[i] = PatternByte(number, i);
    }
    message[size - 1] = 0xF7;
    return message;
}

// What came back, counted on the backend's thread.
class Tally {
public:
    explicit Tally(std::size_t size) : m_size(size) {}

    void Take(ByteView message) {
        std::lock_guard lock(m_mutex);
        const long number = message.size() == m_size
                                ? (long{message[2]} << 14) | (long{message[3]} << 7) | message[4]
                                : -1;
        if (number < 0 ||
            !std::equal(message.begin(), message.end(), Message(number, m_size).begin())) {
            ++damaged;
        } else {
            if (number < next) {
                ++doubled;
            } else {
                lost += number - next;
                next = number + 1;
                ++received;
            }
        }
        m_changed.notify_all();
    }

    // Waits until `until` messages have been accounted for; false when the
    // link stayed silent for the patience.
    bool WaitFor(long until, std::unique_lock<std::mutex>& lock) {
        long seen = -1;
        while (next < until) {
            if (seen == next + damaged + doubled) {
                return false;
            }
            seen = next + damaged + doubled;
            m_changed.wait_for(lock, kPatience, [&] { return next + damaged + doubled != seen; });
        }
        return true;
    }

    std::unique_lock<std::mutex> Lock() { return std::unique_lock(m_mutex); }

    // Guarded by m_mutex.
    long next = 0;
    long received = 0;
    long lost = 0;
    long doubled = 0;
    long damaged = 0;

private:
    const std::size_t m_size;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Number(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--in") {
            options.in = value;
        } else if (key == "--out") {
            options.out = value;
        } else if (key == "--count") {
            if (!Number(value, 1, (1 << 21) - 1, options.count))
                return false;
        } else if (key == "--size") {
            if (!Number(value, kHeader + 1, 1 << 16, options.size))
                return false;
        } else if (key == "--window") {
            if (!Number(value, 1, 64, options.window))
                return false;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.in.empty() && !options.out.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: midi_link_check --in NAME --out NAME [--count N] [--size BYTES] "
                     "[--window N]\n");
        return corvane::kExitUsage;
    }
    auto backend = CreateSystemBackend();
    const int in = IndexOf(backend->InputPortNames(), options.in);
    const int out = IndexOf(backend->OutputPortNames(), options.out);
    if (in < 0 || out < 0) {
        std::fprintf(stderr, "no port named \"%s\"\n", (in < 0 ? options.in : options.out).c_str());
        return corvane::kExitFailure;
    }
    const auto size = static_cast<std::size_t>(options.size);
    Tally tally(size);
    SysExAssembler assembler;
    auto input = backend->OpenInput(
        in, [&](ByteView bytes) { assembler.Feed(bytes, [&](ByteView m) { tally.Take(m); }); });
    auto output = backend->OpenOutput(out);
    if (!input || !output) {
        std::fprintf(stderr, "cannot open the ports\n");
        return corvane::kExitFailure;
    }

    const auto start = Clock::now();
    long sent = 0;
    while (sent < options.count) {
        {
            auto lock = tally.Lock();
            if (!tally.WaitFor(sent - options.window + 1, lock)) {
                break;  // the link has gone silent
            }
        }
        if (!output->Send(Message(sent, size))) {
            std::fprintf(stderr, "message %ld was refused\n", sent);
            break;
        }
        ++sent;
    }
    auto lock = tally.Lock();
    tally.WaitFor(sent, lock);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long missing = tally.lost + (sent - tally.next);
    std::printf(
        "sent %ld of %ld, came back %ld, lost %ld, doubled %ld, damaged %ld; "
        "%.1f s, %.0f messages/s, %.0f KB/s each way\n",
        sent, options.count, tally.received, missing, tally.doubled, tally.damaged, seconds,
        tally.received / seconds, tally.received * double(size) / 1024 / seconds);
    const bool whole = sent == options.count && tally.received == sent && missing == 0 &&
                       tally.doubled == 0 && tally.damaged == 0;
    std::printf("%s\n", whole ? "link: every message came back once and whole" : "link: FAILED");
    return whole ? corvane::kExitSuccess : corvane::kExitFailure;
}
