// Wall time of one full update of the built-in image with the product's waits
// and pauses, as corvane-flash runs it: on the in-process loopback, and on the
// platform's MIDI system (JACK here) with the simulated device on virtual
// ports of the same process. The system case is skipped when no MIDI system
// is reachable; start one first, e.g. `jackd -d dummy -r 48000 -p 1024 &`.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "device/loopback_ports.h"
#include "midi/system_backend.h"
#include "tools/console_view.h"
#include "tools/flash_session.h"
#include "tools/system_ports.h"

namespace {

using namespace corvane;

// Runs one update through the console front end, its output discarded.
bool FlashOnce(midi::MidiBackend& backend, std::uint64_t& requests) {
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null == nullptr) {
        return false;
    }
    tools::FlashOutcome outcome;
    {
        tools::ConsoleView view(null, null, false);
        tools::FlashSession session(backend, view, {});
        outcome = session.Update(std::nullopt, std::nullopt);
    }
    std::fclose(null);
    requests = outcome.requests;
    return outcome.completed;
}

device::DeviceConfig QuietDevice() {
    device::DeviceConfig config;
    config.keepTranscript = false;
    return config;
}

void BM_FullUpdateLoopback(benchmark::State& state) {
    std::uint64_t requests = 0;
    for (auto _ : state) {
        midi::LoopbackBackend backend;
        auto device = device::StartLoopbackDevice(backend, QuietDevice());
        if (!FlashOnce(backend, requests)) {
            state.SkipWithError("the update did not complete");
            return;
        }
    }
    state.counters["requests"] = static_cast<double>(requests);
}

void BM_FullUpdateSystemMidi(benchmark::State& state) {
    std::uint64_t requests = 0;
    for (auto _ : state) {
        auto backend = midi::CreateSystemBackend();
        device::SimulatedDevice device(QuietDevice(), std::make_unique<tools::SystemPorts>());
        if (!device.IsPresent()) {
            state.SkipWithError("no MIDI system reachable");
            return;
        }
        if (!FlashOnce(*backend, requests)) {
            state.SkipWithError("the update did not complete");
            return;
        }
    }
    state.counters["requests"] = static_cast<double>(requests);
}

BENCHMARK(BM_FullUpdateLoopback)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FullUpdateSystemMidi)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
