// Writes the demo firmware container that the updater carries when no other
// image is configured. Same layout and checksums as the production container;
// the payloads are a fixed pseudo-random pattern, not firmware.
//   corvane-demo-image OUTPUT_FILE

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/container_writer.h"
#include "program/exit_codes.h"

namespace {

using corvane::image::ContainerLayout;
using corvane::image::SectionSource;

constexpr std::uint32_t kInfoFlashAddress = 0x149000;
constexpr std::uint32_t kInfoSize = 4096;
constexpr std::uint32_t kMainFlashAddress = 0x68000;
constexpr std::uint32_t kMainSize = 921600;
constexpr std::uint32_t kMainCheckedLength = 877940;
constexpr std::uint32_t kMainChecksum = 0x0405C706;

// A fixed linear congruential sequence, so every build yields the same bytes.
class Pattern {
public:
    std::uint8_t Next(std::uint8_t limit) {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>((m_state >> 16) % (limit + 1u));
    }

private:
    std::uint32_t m_state = 0x5EED1234u;
};

std::vector<std::uint8_t> InfoPayload() {
    // The checksum covers one byte, 0xFF; the rest reads like erased flash.
    std::vector<std::uint8_t> payload(kInfoSize, 0xFF);
    const char text[] = "Corvane demo firmware";
    std::copy(text, text + sizeof text - 1, payload.begin() + 16);
    return payload;
}

std::vector<std::uint8_t> MainPayload() {
    std::vector<std::uint8_t> payload(kMainSize);
    Pattern pattern;
    // Bytes 0-152 average close to the target sum's mean of about 76.9.
    for (std::uint8_t& b : payload) {
        b = pattern.Next(152);
    }
    std::int64_t diff = kMainChecksum;
    for (std::uint32_t i = 0; i < kMainCheckedLength; ++i) {
        diff -= payload[i];
    }
    // Nudge the checked bytes one by one until their sum hits the checksum.
    for (std::uint32_t i = 0; i < kMainCheckedLength && diff != 0; ++i) {
        const std::int64_t room = diff > 0 ? 255 - payload[i] : -static_cast<int>(payload[i]);
        const std::int64_t step = diff > 0 ? std::min(diff, room) : std::max(diff, room);
        payload[i] = static_cast<std::uint8_t>(payload[i] + step);
        diff -= step;
    }
    return payload;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane-demo-image OUTPUT_FILE\n");
        return corvane::kExitUsage;
    }
    ContainerLayout layout;
    layout.notice = "Corvane demo firmware - synthetic payload, not for real devices";
    layout.updateType = 1;
    layout.sections.push_back(SectionSource{0, InfoPayload(), kInfoFlashAddress, 1});
    layout.sections.push_back(
        SectionSource{4, MainPayload(), kMainFlashAddress, kMainCheckedLength});
    const corvane::image::ContainerResult result = corvane::image::WriteContainer(layout);
    if (!result.ok()) {
        std::fprintf(stderr, "corvane-demo-image: %s\n", result.error.c_str());
        return corvane::kExitFailure;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "corvane-demo-image: cannot write %s\n", argv[1]);
        return corvane::kExitFailure;
    }
    const bool written =
        std::fwrite(result.bytes.data(), 1, result.bytes.size(), file) == result.bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "corvane-demo-image: cannot write %s\n", argv[1]);
        return corvane::kExitFailure;
    }
    return corvane::kExitSuccess;
}
