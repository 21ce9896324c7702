// Reply latency: from a device message's arrival in the receive list to the
// return of the worker's wait on the reply event, with the reply handler on
// the running 1 ms timer. Each iteration is one reply: the thread delivers a
// result message into the opened input port (the arrival) and then waits on
// the event as the update worker does; the iteration time is the span between
// the two. The counters give the median and the 99th percentile.
//
// Two arrival patterns:
//  - RandomPhase: a random pause (0 to 1 ms) before each arrival, so that
//    arrivals fall anywhere between two ticks;
//  - BackToBack: each message arrives right after the previous wait returned,
//    that is just after a tick, as when a device answers at once; this is the
//    slow case, close to a whole period.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "midi/loopback_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_timer.h"
#include "protocol/message_set.h"
#include "protocol/messenger.h"
#include "protocol/reply_handler.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

constexpr int kReplies = 10000;

double Percentile(std::vector<double> samples, double share) {
    const auto rank = static_cast<std::size_t>(share * static_cast<double>(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank),
                     samples.end());
    return samples[rank];
}

void ReplyLatency(benchmark::State& state, bool randomPhase) {
    midi::LoopbackBackend backend;
    const auto input = backend.AddInput("Device");
    midi::CDxMidiIn in(backend);
    midi::CDxMidiOut out(backend);  // never opened: a result message needs no answer
    protocol::Messenger messenger(out);
    protocol::ReplyHandler handler(in, messenger);
    in.SetDeviceIndex(0);
    if (in.Open() != 1) {
        state.SkipWithError("the loopback input did not open");
        return;
    }
    midi::CDxMTimer timer;
    if (timer.Start(1, protocol::ReplyHandler::OnReplyTimer,
                    reinterpret_cast<std::uintptr_t>(&handler)) == 0) {
        state.SkipWithError("the timer did not start");
        return;
    }

    constexpr auto kResult = protocol::Template<protocol::Result>();
    const std::vector<std::uint8_t> reply(kResult.begin(), kResult.end());
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> pauseUs(0, 999);
    std::vector<double> samplesMs;
    samplesMs.reserve(kReplies);

    for (auto _ : state) {
        if (randomPhase) {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
        }
        const auto arrival = Clock::now();
        backend.Deliver(input, reply);
        const auto taken = handler.Ledger().Take(std::chrono::seconds(1));
        const auto released = Clock::now();
        if (taken.end != protocol::ReplyLedger::End::kReply) {
            state.SkipWithError("a reply was never signalled");
            break;
        }
        const double seconds = std::chrono::duration<double>(released - arrival).count();
        state.SetIterationTime(seconds);
        samplesMs.push_back(seconds * 1e3);
    }
    timer.Stop();
    if (samplesMs.empty()) {
        return;
    }
    state.counters["median_ms"] = Percentile(samplesMs, 0.5);
    state.counters["p99_ms"] = Percentile(samplesMs, 0.99);
    state.counters["max_ms"] = *std::max_element(samplesMs.begin(), samplesMs.end());
    state.counters["replies"] = static_cast<double>(samplesMs.size());
}

void BM_ReplyLatencyRandomPhase(benchmark::State& state) {
    ReplyLatency(state, true);
}
void BM_ReplyLatencyBackToBack(benchmark::State& state) {
    ReplyLatency(state, false);
}

BENCHMARK(BM_ReplyLatencyRandomPhase)
    ->Iterations(kReplies)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplyLatencyBackToBack)
    ->Iterations(kReplies)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
