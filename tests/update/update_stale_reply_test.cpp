// Replies that come too late for their request, and a device whose version
// stays unknown.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::RequestKind;

class UpdateStaleReplyTest : public UpdateFixture {};

// The last MAIN block's answer comes after its wait timed out, in the pause
// before the fence or soon after it; the device then refuses INFO's block
// for good. The late answer writes the block, no resend; were it left
// standing instead, it would be taken for the next request's answer, every
// later answer would land one request late, and INFO's refusal would be taken
// for the closing request's answer: "completed" with INFO unwritten.
TEST_F(UpdateStaleReplyTest, ALateReplyIsNotCreditedToTheNextRequest) {
    update::Timing timing = FastTiming();
    timing.blockWait = std::chrono::milliseconds(100);
    timing.retryPause = std::chrono::milliseconds(100);
    device::DeviceConfig config;
    const int lastMainBlock = 3;  // SmallImage(2): two whole blocks and a tail
    config.faults.push_back(
        Fault::Busy(RequestKind::kBlockWrite, lastMainBlock, std::chrono::milliseconds(250)));
    config.faults.push_back(Fault::Refuse(RequestKind::kBlockWrite, lastMainBlock + 1).Times(100));
    RunUpdate(config, timing, ImageOf(SmallImage(2)));
    // INFO's budget runs out: on its last refusal, or, on a machine so loaded
    // that a refusal or a fence's answer misses its wait, on a time-out.
    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0] == "Transfer error occurred." || boxes[0] == "Time out error(2)")
        << boxes[0];
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kClosing), 0);
    // The late-answered block (at 0x6A000) went out once; INFO stays within
    // its budget, which a fence's time-out takes from too.
    const auto transcript = m_device->Transcript();
    EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                            [](const std::string& line) {
                                return line.starts_with("> F0 52 00 6E 02 00 40 1A 00 00 ");
                            }),
              1);
    EXPECT_LE(m_device->Counters().Requests(RequestKind::kBlockWrite), lastMainBlock + 32);
}

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
