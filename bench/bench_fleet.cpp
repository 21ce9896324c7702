// Many devices at once against one. BM_Fleet/N updates N simulated devices on
// one in-process MIDI system with the built-in image, each through a run of
// its own as corvane-flash --all does, the devices answering at once and the
// fixed pauses before the steps and after closing set to zero. The iteration
// time is the whole fleet's, from the first look for devices to the end of
// the last run; /20 against /1 is the cost of updating twenty at once.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "app/updater_dialog.h"
#include "device/simulated_bench.h"
#include "tools/fleet_run.h"

namespace {

using namespace corvane;

// The report's events go nowhere: only the outcomes count here.
class Discard final : public tools::ReportOutput {
public:
    void Event(tools::ReportEvent, const std::vector<tools::DeviceState>&,
               const tools::DeviceState&) override {}
    void Table(const std::vector<tools::DeviceState>&) override {}
};

void BM_Fleet(benchmark::State& state) {
    const auto devices = static_cast<std::size_t>(state.range(0));
    device::DeviceConfig config;
    config.keepTranscript = false;
    tools::FleetOptions options;
    options.names = app::DevicePortNames();
    options.lookPeriod = std::chrono::milliseconds(5);
    options.dialog.timing.beforeSteps = std::chrono::milliseconds(0);
    options.dialog.timing.afterClosing = std::chrono::milliseconds(0);
    for (auto _ : state) {
        state.PauseTiming();
        auto bench = std::make_unique<device::SimulatedBench>(
            std::vector<device::DeviceConfig>(devices, config));
        Discard output;
        tools::FleetReport report(output);
        tools::FleetRun fleet(*bench, report, options);
        state.ResumeTiming();
        fleet.Run();
        state.PauseTiming();
        if (!report.Finish()) {
            state.SkipWithError("a device's update failed");
        }
        bench.reset();
        state.ResumeTiming();
    }
    state.counters["devices"] = static_cast<double>(devices);
}
BENCHMARK(BM_Fleet)->Arg(1)->Arg(20)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
