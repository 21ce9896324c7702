// Pushes a million mutated containers through the parser. Each one is parsed
// from a buffer of exactly its own size, so the sanitizer build catches any
// read past the image.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "image/firmware_image.h"
#include "image/image_check.h"
#include "image_builder.h"

namespace corvane::image {
namespace {

constexpr int kImages = 1000000;

// Values that sit on or across the edges the range checks guard.
constexpr std::uint32_t kEdgeValues[] = {0,
                                         1,
                                         255,
                                         256,
                                         0x7FFF,
                                         0x8000,
                                         0x8001,
                                         kImageBufferSize - 256,
                                         kImageBufferSize - 1,
                                         kImageBufferSize,
                                         0x7FFFFFFF,
                                         0xFFFFFF00,
                                         0xFFFFFFFC,
                                         0xFFFFFFFF};

class Mutator {
public:
    explicit Mutator(std::size_t baseSize) : m_baseSize(baseSize) {}

    // Mutates image in place and returns the image size to parse.
    std::size_t Mutate(std::vector<std::uint8_t>& image) {
        std::size_t size = m_baseSize;
        const int kind = Below(6);
        if (kind == 0) {
            for (int flips = 1 + Below(4); flips > 0; --flips) {
                image[Below(m_baseSize)] ^= static_cast<std::uint8_t>(1u << Below(8));
            }
        } else if (kind == 1) {
            size = Below(m_baseSize + 1);
        } else if (kind == 2) {
            Put(image, EntryOffset(Below(8)) + 4 * (1 + Below(4)));
        } else if (kind == 3) {
            Put(image, AreaOffset(image) + kCheckedLengthOffset);
        } else if (kind == 4) {
            image[kMaskOffset] = static_cast<std::uint8_t>(Below(256));
        } else {
            // A random 32-bit word somewhere in the headers.
            Put(image, Below(kImageHeaderSize + 2 * kSectionHeaderSize));
        }
        return size;
    }

private:
    std::size_t Below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }

    void Put(std::vector<std::uint8_t>& image, std::size_t offset) {
        if (offset + 4 > m_baseSize) {
            return;
        }
        std::uint32_t value = kEdgeValues[Below(std::size(kEdgeValues))];
        if (Below(2) == 0) {
            value = static_cast<std::uint32_t>(m_random());
        }
        WriteLe32(image.data() + offset, value);
    }

    // The header of a random present section, as the table says.
    std::size_t AreaOffset(const std::vector<std::uint8_t>& image) {
        const std::size_t offset = test::AreaOffset(image, static_cast<int>(Below(8)));
        return offset < m_baseSize ? offset : 0;
    }

    std::size_t m_baseSize;
    std::mt19937 m_random{20240601};
};

TEST(ImageRobustness, MillionMutatedImagesParseWithoutFault) {
    const std::vector<std::uint8_t> base = test::Build(test::AllSlotsLayout());
    ASSERT_LT(base.size(), 4096u);
    std::vector<std::uint8_t> work = base;
    const std::unique_ptr<std::uint8_t[]> whole(new std::uint8_t[base.size()]);
    Mutator mutator(base.size());
    auto parser = std::make_unique<CFirmwareImage>();
    const ImageCheck check = MakeImageCheck(DeviceVersion{0xAA, 0xBB, 0xCC, 0xDD});
    int accepted = 0;
    int refused = 0;
    for (int n = 0; n < kImages; ++n) {
        std::copy(base.begin(), base.end(), work.begin());
        const std::size_t size = mutator.Mutate(work);
        // Truncated images get an allocation of their own size; the rest
        // reuse one of the base size.
        std::unique_ptr<std::uint8_t[]> truncated;
        std::uint8_t* exact = whole.get();
        if (size != base.size()) {
            truncated.reset(new std::uint8_t[size]);
            exact = truncated.get();
        }
        std::copy(work.begin(), work.begin() + size, exact);
        const int result = parser->Parse(exact, size, check);
        ASSERT_TRUE(result == 0 || result == -3) << result;
        if (result == -3) {
            ++refused;
            continue;
        }
        ++accepted;
        // Whatever an accepted image says, the write steps stay in the buffer.
        ASSERT_EQ(parser->GetSections()[0].selected, 1);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const SectionRecord& record = parser->GetSections()[slot];
            if (record.selected != 0) {
                ASSERT_LE(std::uint64_t{record.imageOffset} + record.flashSize, kImageBufferSize);
            }
        }
    }
    // Both outcomes occur, or the mutations would not be exercising the checks.
    EXPECT_GT(accepted, kImages / 20);
    EXPECT_GT(refused, kImages / 20);
}

}  // namespace
}  // namespace corvane::image
