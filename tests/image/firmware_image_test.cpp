#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <memory>

#include "image/builtin_image.h"
#include "image/image_check.h"
#include "image_builder.h"

namespace corvane::image {
namespace {

using test::AllSlotsLayout;
using test::AreaOffset;
using test::Build;
using test::EntryField;
using test::Get32;
using test::Set32;

constexpr std::array<std::uint8_t, 4> kOtherVersion{0xAA, 0xBB, 0xCC, 0xDD};

class ImageParse : public ::testing::Test {
protected:
    int Parse(const std::vector<std::uint8_t>& image,
              const std::array<std::uint8_t, 4>& version = kOtherVersion) {
        return m_image->Parse(image.data(), image.size(), MakeImageCheck(version));
    }
    ParseReport Diagnose(const std::vector<std::uint8_t>& image,
                         const std::array<std::uint8_t, 4>& version = kOtherVersion) {
        return m_image->Diagnose(image.data(), image.size(), MakeImageCheck(version));
    }
    const SectionRecord& Record(int slot) const { return m_image->GetSections()[slot]; }

    std::unique_ptr<CFirmwareImage> m_image = std::make_unique<CFirmwareImage>();
    std::vector<std::uint8_t> m_all = Build(AllSlotsLayout());
};

void ExpectZeroRecord(const SectionRecord& record) {
    EXPECT_EQ(record.imageOffset, 0u);
    EXPECT_EQ(record.imageLength, 0u);
    EXPECT_EQ(record.flashAddress, 0u);
    EXPECT_EQ(record.flashSize, 0u);
    EXPECT_EQ(record.selected, 0);
    EXPECT_EQ(record.magic[0], '\0');
}

TEST_F(ImageParse, DemoImageYieldsPayloadRecordsOfInfoAndMain) {
    const auto demo = test::ReadFileBytes(CORVANE_DEMO_IMAGE_FILE);
    ASSERT_EQ(demo.size(), 926464u);
    ASSERT_EQ(Parse(demo), 0);
    EXPECT_EQ(m_image->GetUpdateType(), 1);

    const SectionRecord& info = Record(0);
    EXPECT_EQ(info.selected, 1);
    EXPECT_EQ(info.imageOffset, 512u);
    EXPECT_EQ(info.imageLength, 4096u);
    EXPECT_EQ(info.flashAddress, 0x149000u);
    EXPECT_EQ(info.flashSize, 4096u);
    EXPECT_STREQ(info.magic.data(), "BRAXQ605INFO");
    EXPECT_EQ(demo[info.imageOffset], 0xFF);

    const SectionRecord& main = Record(4);
    EXPECT_EQ(main.selected, 1);
    EXPECT_EQ(main.imageOffset, 4864u);
    EXPECT_EQ(main.imageLength, 921600u);
    EXPECT_EQ(main.flashAddress, 0x68000u);
    EXPECT_EQ(main.flashSize, 921600u);
    EXPECT_STREQ(main.magic.data(), "BRAXQ605MAIN");
    for (int slot : {1, 2, 3, 5, 6, 7, 8}) {
        SCOPED_TRACE(slot);
        ExpectZeroRecord(Record(slot));
    }
}

TEST_F(ImageParse, DemoImageHeaderHoldsTheDocumentedValues) {
    const auto demo = test::ReadFileBytes(CORVANE_DEMO_IMAGE_FILE);
    ASSERT_EQ(demo.size(), 926464u);
    EXPECT_EQ(std::string(demo.begin(), demo.begin() + 16), "Q605 System Data");
    EXPECT_EQ(demo[95], 0);
    EXPECT_EQ(demo[94], 0x20);
    EXPECT_EQ(demo[96], 0x11);
    EXPECT_EQ(demo[100], 1);
    EXPECT_EQ(std::vector<std::uint8_t>(demo.begin() + 224, demo.begin() + 256),
              std::vector<std::uint8_t>(32, 0x20));
    EXPECT_EQ(Get32(demo, 4608 + 16), 877940u);
    EXPECT_EQ(std::vector<std::uint8_t>(demo.begin() + 4608 + 252, demo.begin() + 4608 + 256),
              (std::vector<std::uint8_t>{0x04, 0x05, 0xC7, 0x06}));
}

TEST_F(ImageParse, BuiltinImageIsTheConfiguredFile) {
    const auto expected = test::ReadFileBytes(CORVANE_BUILTIN_IMAGE_FILE);
    const auto builtin = BuiltinImage();
    EXPECT_EQ(std::vector<std::uint8_t>(builtin.begin(), builtin.end()), expected);
}

TEST_F(ImageParse, EverySlotKindIsSelectedAndDescribesItsPayload) {
    ASSERT_EQ(Parse(m_all), 0);
    EXPECT_EQ(m_image->GetUpdateType(), 7);
    const ContainerLayout layout = AllSlotsLayout();
    for (const SectionSource& source : layout.sections) {
        SCOPED_TRACE(source.slot);
        const SectionRecord& record = Record(source.slot);
        EXPECT_EQ(record.selected, 1);
        EXPECT_EQ(record.imageLength, source.payload.size());
        EXPECT_EQ(record.flashAddress, source.flashAddress);
        EXPECT_EQ(record.flashSize, source.payload.size());
        EXPECT_TRUE(std::equal(source.payload.begin(), source.payload.end(),
                               m_all.begin() + record.imageOffset));
    }
    ExpectZeroRecord(Record(8));
}

TEST_F(ImageParse, Slot7EntryEndsInImageBytes256To263) {
    ASSERT_EQ(Parse(m_all), 0);
    EXPECT_EQ(Record(7).flashAddress, Get32(m_all, 256));
    EXPECT_EQ(Record(7).flashSize, Get32(m_all, 260));
    // Moving those bytes moves the record: they are the entry's last fields.
    Set32(m_all, 256, 0x12345678);
    ASSERT_EQ(Parse(m_all), 0);
    EXPECT_EQ(Record(7).flashAddress, 0x12345678u);
}

TEST_F(ImageParse, BannerIsComparedOverSixteenBytesOnly) {
    auto image = m_all;
    image[15] = 'b';
    EXPECT_EQ(Parse(image), -3);
    EXPECT_EQ(Diagnose(image).fault, ImageFault::kBanner);
    // The update type is taken before the banner is checked.
    EXPECT_EQ(m_image->GetUpdateType(), 7);

    image = m_all;
    image[16] = 'X';
    EXPECT_EQ(Parse(image), 0);
}

TEST_F(ImageParse, InfoIsMandatory) {
    auto maskClear = m_all;
    maskClear[kMaskOffset] &= 0xFE;
    EXPECT_EQ(Parse(maskClear), -3);

    auto renamed = m_all;
    renamed[EntryOffset(0)] = 'X';
    const ParseReport report = Diagnose(renamed);
    EXPECT_EQ(report.fault, ImageFault::kInfoNotSelected);
    EXPECT_EQ(report.slot, 0);
}

TEST_F(ImageParse, OtherSlotsNeedBothMaskBitAndName) {
    // Mask bit set, wrong name: unselected, no error.
    auto wrongName = m_all;
    wrongName[EntryOffset(2)] = 'X';
    ASSERT_EQ(Parse(wrongName), 0);
    ExpectZeroRecord(Record(2));

    // Right name, mask bit clear: unselected even with a broken checksum.
    auto maskClear = m_all;
    maskClear[kMaskOffset] &= static_cast<std::uint8_t>(~(1u << 3));
    maskClear[AreaOffset(maskClear, 3) + kChecksumOffset] ^= 0x01;
    ASSERT_EQ(Parse(maskClear), 0);
    ExpectZeroRecord(Record(3));

    // An unnamed slot is present only when its entry's name starts with zero.
    auto named = m_all;
    named[EntryOffset(5)] = 'Z';
    ASSERT_EQ(Parse(named), 0);
    EXPECT_EQ(Record(5).selected, 0);
}

TEST_F(ImageParse, BootEqualToDeviceVersionIsSkippedUnchecked) {
    auto image = m_all;
    image[AreaOffset(image, 1) + kChecksumOffset] ^= 0x01;
    ASSERT_EQ(Parse(image, test::kBootTrailer), 0);
    const SectionRecord& boot = Record(1);
    EXPECT_EQ(boot.selected, 0);
    EXPECT_EQ(boot.imageOffset, AreaOffset(image, 1));
    EXPECT_EQ(boot.imageLength, Get32(image, EntryField(1, 2)));

    // Any other version selects BOOT, and then its checksum counts.
    const ParseReport report = Diagnose(image, {0x01, 0x02, 0x03, 0x05});
    EXPECT_EQ(report.fault, ImageFault::kChecksum);
    EXPECT_EQ(report.slot, 1);
    ASSERT_EQ(Parse(m_all, {0x01, 0x02, 0x03, 0x05}), 0);
    EXPECT_EQ(Record(1).selected, 1);
}

TEST_F(ImageParse, UnknownDeviceVersionMatchesNoTrailer) {
    ASSERT_EQ(m_image->Parse(m_all.data(), m_all.size(), MakeImageCheck(std::nullopt)), 0);
    EXPECT_EQ(Record(1).selected, 1);
}

TEST_F(ImageParse, MagicMustBeTheSlotsOwn) {
    auto image = m_all;
    std::memcpy(image.data() + AreaOffset(image, 0), "BRAXQ605MAIN", 12);
    const ParseReport report = Diagnose(image);
    EXPECT_EQ(report.fault, ImageFault::kMagic);
    EXPECT_EQ(report.slot, 0);
}

TEST_F(ImageParse, ChecksumIsBigEndianByteSum) {
    const std::uint32_t area = AreaOffset(m_all, 2);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < 40; ++i) {
        sum += m_all[area + kSectionHeaderSize + i];
    }
    EXPECT_EQ(ReadBe32(m_all.data() + area + kChecksumOffset), sum);

    auto littleEndian = m_all;
    WriteLe32(littleEndian.data() + area + kChecksumOffset, sum);
    ASSERT_NE(sum, __builtin_bswap32(sum));
    const ParseReport report = Diagnose(littleEndian);
    EXPECT_EQ(report.fault, ImageFault::kChecksum);
    EXPECT_EQ(report.slot, 2);
    EXPECT_EQ(report.section.computedChecksum, sum);
}

TEST_F(ImageParse, ZeroCheckedLengthNeedsZeroChecksum) {
    ContainerLayout layout = AllSlotsLayout();
    layout.sections[2].checkedLength = 0;
    auto image = Build(layout);
    EXPECT_EQ(ReadBe32(image.data() + AreaOffset(image, 2) + kChecksumOffset), 0u);
    EXPECT_EQ(Parse(image), 0);
    image[AreaOffset(image, 2) + kChecksumOffset + 3] = 1;
    EXPECT_EQ(Parse(image), -3);
}

TEST_F(ImageParse, ChecksumCoversExactlyTheCheckedBytesAcrossChunks) {
    for (std::uint32_t checked : {32767u, 32768u, 32769u, 65537u}) {
        SCOPED_TRACE(checked);
        ContainerLayout layout;
        layout.sections = {{0, test::Payload(70000, 9), 0, checked}};
        auto image = Build(layout);
        ASSERT_EQ(Parse(image), 0);
        const std::size_t payload = AreaOffset(image, 0) + kSectionHeaderSize;
        // The last checked byte counts, the first unchecked one does not.
        auto last = image;
        last[payload + checked - 1] ^= 0x10;
        EXPECT_EQ(Parse(last), -3);
        auto after = image;
        after[payload + checked] ^= 0x10;
        EXPECT_EQ(Parse(after), 0);
    }
}

TEST_F(ImageParse, LaterFailureRefusesAfterInfoWasAdjusted) {
    auto image = m_all;
    image[AreaOffset(image, 4) + kSectionHeaderSize] ^= 0x01;
    const ParseReport report = Diagnose(image);
    EXPECT_EQ(report.fault, ImageFault::kChecksum);
    EXPECT_EQ(report.slot, 4);
    EXPECT_EQ(Record(0).imageOffset, AreaOffset(image, 0) + kSectionHeaderSize);
}

TEST_F(ImageParse, BytesPastTheImageCountAsZero) {
    // The checked length runs 1000 bytes past the image's end, still inside
    // the buffer: those bytes add nothing to the sum.
    ContainerLayout layout;
    layout.sections = {{0, test::Payload(100, 3), 0, std::nullopt}};
    auto image = Build(layout);
    const std::size_t header = AreaOffset(image, 0);
    Set32(image, header + kCheckedLengthOffset, 1100);
    EXPECT_EQ(Parse(image), 0);
    // Truncating the image zeroes the tail that was summed.
    image.pop_back();
    EXPECT_EQ(Diagnose(image).fault, ImageFault::kChecksum);
}

struct RangeCase {
    const char* what;
    int slot;
    int field;  // section table field, or 0 for the checked length
    std::uint32_t value;
    ImageFault fault;
};

TEST_F(ImageParse, ValuesReachingBeyondTheBufferAreRefused) {
    const RangeCase cases[] = {
        {"header past the buffer", 2, 1, kImageBufferSize - 255, ImageFault::kHeaderOutOfRange},
        {"offset wrapping in 32 bits", 2, 1, 0xFFFFFF00u, ImageFault::kHeaderOutOfRange},
        {"area shorter than its header", 3, 2, 255, ImageFault::kAreaTooShort},
        {"boot trailer past the buffer", 1, 2, 0xFFFFFFF0u, ImageFault::kTrailerOutOfRange},
        {"flash size past the buffer", 4, 4, kImageBufferSize, ImageFault::kWriteOutOfRange},
        {"flash size wrapping", 0, 4, 0xFFFFFFFFu, ImageFault::kWriteOutOfRange},
        {"checked length past the buffer", 4, 0, kImageBufferSize, ImageFault::kPayloadOutOfRange},
        {"checked length wrapping", 5, 0, 0xFFFFFFFFu, ImageFault::kPayloadOutOfRange},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto image = m_all;
        const std::size_t at = c.field == 0 ? AreaOffset(image, c.slot) + kCheckedLengthOffset
                                            : EntryField(c.slot, c.field);
        Set32(image, at, c.value);
        const ParseReport report = Diagnose(image);
        EXPECT_EQ(report.fault, c.fault);
        EXPECT_EQ(report.slot, c.slot);
    }
}

TEST_F(ImageParse, WriteRangeEndingExactlyAtTheBufferEndIsAccepted) {
    auto image = m_all;
    Set32(image, EntryField(6, 4), kImageBufferSize - AreaOffset(image, 6) - kSectionHeaderSize);
    EXPECT_EQ(Parse(image), 0);
    Set32(image, EntryField(6, 4), Get32(image, EntryField(6, 4)) + 1);
    EXPECT_EQ(Parse(image), -3);
}

TEST_F(ImageParse, ImageLargerThanTheBufferIsRefused) {
    // Only the header is read before the size is refused.
    const ParseReport report =
        m_image->Diagnose(m_all.data(), std::size_t{kImageBufferSize} + 1, MakeImageCheck({}));
    EXPECT_EQ(report.fault, ImageFault::kImageTooLarge);
}

TEST(ImageCheckTables, HoldTheConstantStrings) {
    const ImageCheck check = MakeImageCheck(DeviceVersion{1, 2, 3, 4});
    EXPECT_EQ(check.deviceVersion, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_STREQ(check.banner.data(), "Q605 System Data");
    EXPECT_STREQ(check.magic[1].data(), "BRAXQ605BOOT");
    EXPECT_STREQ(check.name[4].data(), "MAIN");
    EXPECT_STREQ(check.name[5].data(), "");
    EXPECT_STREQ(check.magic[8].data(), "");
}

TEST(ImageNames, ComparisonEndsAtASharedZeroByte) {
    EXPECT_TRUE(NamesEqual("AB\0X", "AB\0Y", 4));
    EXPECT_FALSE(NamesEqual("AB\0X", "ABCY", 4));
    EXPECT_TRUE(NamesEqual("ABCDx", "ABCDy", 4));
    EXPECT_FALSE(NamesEqual("ABCE", "ABCD", 4));
}

}  // namespace
}  // namespace corvane::image
