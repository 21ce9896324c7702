// Building one 4,096-byte block write: the encoding alone (pack, CRC, the
// number groups, into a buffer), and the whole SendBlockWrite onto a loopback
// output port that neither records nor forwards, so that the port's share
// stays small and visible as the difference between the two.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "midi/loopback_backend.h"
#include "midi/midi_out.h"
#include "protocol/message_set.h"
#include "protocol/messenger.h"

namespace {

using namespace corvane;
using namespace corvane::protocol;

constexpr int kBlock = 4096;
constexpr std::uint32_t kAddress = 0x68000;
constexpr std::uint8_t kModel = 0x6E;

std::vector<std::uint8_t> BlockData() {
    // Random bytes: half of them have bit 7 set, as in real firmware.
    std::vector<std::uint8_t> data(kBlock);
    std::mt19937 rng(7);
    std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(rng()); });
    return data;
}

void BM_EncodeBlockWrite(benchmark::State& state) {
    const std::vector<std::uint8_t> data = BlockData();
    std::vector<std::uint8_t> buffer(Messenger::kOutgoingBufferSize);
    for (auto _ : state) {
        std::uint8_t* buf = buffer.data();
        WriteHead<BlockWrite>(buf);
        Write(buf, BlockWrite::kModel, kModel);
        Write(buf, BlockWrite::kAddress, kAddress);
        Write(buf, BlockWrite::kLength, kBlock);
        const int packed = PackSevenBit(buf + BlockWrite::kDataOffset, data.data(), kBlock);
        Write(buf, BlockWrite::Crc(packed), Crc32(data.data(), kBlock));
        buf[BlockWrite::kOverhead - 1 + packed] = kSysExEnd;
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_EncodeBlockWrite);

// The two halves of the encoding, to show which one dominates.
void BM_PackSevenBit(benchmark::State& state) {
    const std::vector<std::uint8_t> data = BlockData();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(PackedLength(kBlock)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PackSevenBit(buffer.data(), data.data(), kBlock));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_PackSevenBit);

void BM_Crc32(benchmark::State& state) {
    const std::vector<std::uint8_t> data = BlockData();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32(data.data(), kBlock));
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_Crc32);

void BM_SendBlockWrite(benchmark::State& state) {
    const std::vector<std::uint8_t> data = BlockData();
    midi::LoopbackBackend backend;
    const auto port = backend.AddOutput("Bench");
    midi::CDxMidiOut out(backend);
    Messenger messenger(out);
    messenger.SetDeviceIdentityCopy({kModel, 0x00, 0x28, 0x00});
    if (out.Open(0) != 1) {
        state.SkipWithError("the loopback output did not open");
        return;
    }
    // One recorded send proves the message is whole before recording stops.
    if (messenger.SendBlockWrite(data.data(), kAddress, kBlock) != 0 ||
        backend.Sent(port).at(0).size() != static_cast<std::size_t>(PackedLength(kBlock)) +
                                               static_cast<std::size_t>(BlockWrite::kOverhead)) {
        state.SkipWithError("the block write did not go out whole");
        return;
    }
    backend.SetRecording(port, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(messenger.SendBlockWrite(data.data(), kAddress, kBlock));
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_SendBlockWrite);

}  // namespace
