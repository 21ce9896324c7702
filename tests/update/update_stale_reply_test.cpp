// Replies that come too late for their request, and a device whose version
// stays unknown.

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::RequestKind;

class UpdateStaleReplyTest : public UpdateFixture {};

TEST_F(UpdateStaleReplyTest, AnswersThatComeLateAreRetriedAndTheUpdateCompletes) {
    update::Timing timing = FastTiming();
    timing.blockWait = std::chrono::milliseconds(100);
    device::DeviceConfig config;
    config.faults.push_back(
        Fault::Busy(RequestKind::kBlockWrite, 1, std::chrono::milliseconds(300)).Times(3));
    RunUpdate(config, timing, ImageOf(SmallImage(2)));
    ExpectCompleted();
}

// With the device's version unknown, BOOT is written whatever its trailer:
// all zero bytes, as an undefined version might read, or FF FF FF FF, as
// erased padding reads.
class UnknownDeviceVersionTest : public UpdateFixture,
                                 public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(UnknownDeviceVersionTest, WritesTheBootSection) {
    image::ContainerLayout layout;
    layout.sections.push_back({0, std::vector<std::uint8_t>(4096, 0x11), 0x149000, std::nullopt});
    std::vector<std::uint8_t> boot(4096, 0x22);
    std::fill(boot.end() - 4, boot.end(), GetParam());
    layout.sections.push_back({1, boot, 0x10000, std::nullopt});
    const auto image = image::WriteContainer(layout);
    ASSERT_TRUE(image.ok()) << image.error;

    device::DeviceConfig config;
    config.faults.push_back(Fault::Drop(RequestKind::kVersion, 1));
    RunUpdate(config, FastTiming(), ImageOf(image.bytes));
    ExpectCompleted();
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kErase), 2);
    EXPECT_EQ(m_device->Flash()[0x10000], 0x22);
    EXPECT_EQ(m_device->Flash()[0x10000 + 4095], GetParam());
}

INSTANTIATE_TEST_SUITE_P(Trailers, UnknownDeviceVersionTest,
                         ::testing::Values(std::uint8_t{0x00}, std::uint8_t{0xFF}));

TEST_F(UpdateStaleReplyTest, BootSectionMatchingTheDeviceVersionIsLeftAlone) {
    image::ContainerLayout layout;
    layout.sections.push_back({0, std::vector<std::uint8_t>(4096, 0x11), 0x149000, std::nullopt});
    std::vector<std::uint8_t> boot(4096, 0x22);
    const std::array<std::uint8_t, 4> version{0x01, 0x02, 0x03, 0x04};
    std::copy(version.begin(), version.end(), boot.end() - 4);
    layout.sections.push_back({1, boot, 0x10000, std::nullopt});
    const auto image = image::WriteContainer(layout);
    ASSERT_TRUE(image.ok()) << image.error;

    device::DeviceConfig config;
    config.version = version;
    RunUpdate(config, FastTiming(), ImageOf(image.bytes));
    ExpectCompleted();
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kErase), 1);
    EXPECT_NE(m_device->Flash()[0x10000], 0x22);
}

}  // namespace
}  // namespace corvane::testing
