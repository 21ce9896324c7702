#include "image/container_writer.h"

#include <gtest/gtest.h>

#include "image_builder.h"

namespace corvane::image {
namespace {

using test::Get32;

TEST(ContainerWriter, LaysSectionsBackToBackInSlotOrder) {
    ContainerLayout layout;
    layout.notice = "n";
    // Given out of order: the container still holds them in slot order.
    layout.sections = {{4, test::Payload(100, 1), 0x68000, 60},
                       {0, test::Payload(10, 2), 0x149000, std::nullopt}};
    const ContainerResult result = WriteContainer(layout);
    ASSERT_TRUE(result.ok()) << result.error;
    const auto& image = result.bytes;
    ASSERT_EQ(image.size(), 256u + 266u + 356u);
    EXPECT_EQ(image[kMaskOffset], 0x11);
    EXPECT_EQ(image[kUpdateTypeOffset], 1);
    EXPECT_EQ(image[kNoticeOffset], 'n');
    EXPECT_EQ(image[kNoticeOffset + 1], 0x20);
    EXPECT_EQ(image[kNoticeOffset + kNoticeLength - 1], 0);
    EXPECT_EQ(Get32(image, test::EntryField(0, 1)), 256u);
    EXPECT_EQ(Get32(image, test::EntryField(0, 2)), 266u);
    EXPECT_EQ(Get32(image, test::EntryField(4, 1)), 522u);
    EXPECT_EQ(Get32(image, test::EntryField(4, 2)), 356u);
    EXPECT_EQ(Get32(image, test::EntryField(4, 3)), 0x68000u);
    EXPECT_EQ(Get32(image, test::EntryField(4, 4)), 100u);
    // Absent slots 1-3 and 5 are zero, the header's tail is spaces.
    for (std::size_t i = EntryOffset(1); i < EntryOffset(4); ++i) {
        EXPECT_EQ(image[i], 0) << i;
    }
    EXPECT_EQ(image[255], 0x20);

    const std::size_t main = 522;
    EXPECT_EQ(std::string(image.begin() + main, image.begin() + main + 12), "BRAXQ605MAIN");
    EXPECT_EQ(Get32(image, main + kPayloadSizeOffset), 100u);
    EXPECT_EQ(Get32(image, main + kCheckedLengthOffset), 60u);
    EXPECT_EQ(image[main + kFillerOffset], 0x20);
    std::uint32_t sum = 0;
    for (int i = 0; i < 60; ++i) {
        sum += layout.sections[0].payload[i];
    }
    EXPECT_EQ(ReadBe32(image.data() + main + kChecksumOffset), sum);
}

TEST(ContainerWriter, Slot7MovesTheSectionAreasBehindItsEntry) {
    ContainerLayout layout;
    layout.sections = {{0, test::Payload(8, 1), 1, std::nullopt},
                       {7, test::Payload(8, 2), 0xABCD, std::nullopt}};
    const ContainerResult result = WriteContainer(layout);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(Get32(result.bytes, test::EntryField(0, 1)), 264u);
    EXPECT_EQ(Get32(result.bytes, 256), 0xABCDu);
    EXPECT_EQ(Get32(result.bytes, 260), 8u);
    EXPECT_EQ(result.bytes[EntryOffset(7)], 0);
}

TEST(ContainerWriter, RefusesLayoutsItCannotWrite) {
    const auto refused = [](ContainerLayout layout) {
        const ContainerResult result = WriteContainer(layout);
        EXPECT_TRUE(result.bytes.empty());
        return result.error;
    };
    ContainerLayout twice;
    twice.sections = {{2, {1}, 0, std::nullopt}, {2, {1}, 0, std::nullopt}};
    EXPECT_NE(refused(twice).find("twice"), std::string::npos);

    ContainerLayout slot8;
    slot8.sections = {{8, {1}, 0, std::nullopt}};
    EXPECT_NE(refused(slot8), "");

    ContainerLayout checked;
    checked.sections = {{0, {1, 2}, 0, 3}};
    EXPECT_NE(refused(checked).find("checked length"), std::string::npos);

    ContainerLayout notice;
    notice.notice.assign(80, 'x');
    EXPECT_NE(refused(notice).find("notice"), std::string::npos);

    ContainerLayout huge;
    huge.sections = {{0, std::vector<std::uint8_t>(kImageBufferSize - 511), 0, 0}};
    EXPECT_NE(refused(huge).find("larger"), std::string::npos);
}

TEST(ImageSlotNames, MapNamesAndNumbers) {
    EXPECT_EQ(SlotFromName("INFO"), 0);
    EXPECT_EQ(SlotFromName("MAIN"), 4);
    EXPECT_EQ(SlotFromName("7"), 7);
    EXPECT_EQ(SlotFromName("8"), -1);
    EXPECT_EQ(SlotFromName(""), -1);
    EXPECT_EQ(SlotFromName("main"), -1);
}

}  // namespace
}  // namespace corvane::image
