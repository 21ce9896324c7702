// CPU time a running 1 ms timer costs while its ticks do nothing: user plus
// system time of the whole process over 10 s, as a share of one core.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "midi/midi_timer.h"

namespace {

void EmptyTick(std::uint32_t, std::uint32_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

struct CpuTime {
    double user = 0;
    double system = 0;
};

CpuTime ProcessCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

void BM_TimerIdleCpu(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        corvane::midi::CDxMTimer timer;
        const CpuTime before = ProcessCpu();
        const auto wallBefore = Clock::now();
        timer.Start(1, EmptyTick, 0);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        timer.Stop();
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        const CpuTime after = ProcessCpu();
        const double user = after.user - before.user;
        const double system = after.system - before.system;
        state.counters["cpu_percent_of_one_core"] = 100.0 * (user + system) / wall;
        state.counters["user_percent"] = 100.0 * user / wall;
        state.counters["system_percent"] = 100.0 * system / wall;
    }
}
BENCHMARK(BM_TimerIdleCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
