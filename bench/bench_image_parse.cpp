// Parse throughput of the built-in container: the checksum walk over the
// checked payload bytes dominates.

#include <benchmark/benchmark.h>

#include <memory>

#include "image/builtin_image.h"
#include "image/firmware_image.h"
#include "image/image_check.h"

namespace {

using namespace corvane::image;

void BM_ParseBuiltinImage(benchmark::State& state) {
    const auto image = BuiltinImage();
    const auto parser = std::make_unique<CFirmwareImage>();
    const ImageCheck check = MakeImageCheck({});
    if (parser->Parse(image.data(), image.size(), check) != 0) {
        state.SkipWithError("the built-in image does not parse");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser->Parse(image.data(), image.size(), check));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_ParseBuiltinImage);

}  // namespace
