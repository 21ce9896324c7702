// Whole update runs against the simulated device: the built-in image lands
// in flash, and the texts, progress and controls follow the run.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "device/device_messages.h"
#include "image/image_bytes.h"
#include "image/image_layout.h"
#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using app::Control;

// Received requests in the transcript, as their first bytes.
std::vector<std::string> Requests(const std::vector<std::string>& transcript) {
    std::vector<std::string> requests;
    for (const std::string& line : transcript) {
        if (line.rfind("> ", 0) == 0) {
            requests.push_back(line.substr(2));
        }
    }
    return requests;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

class UpdateFlowTest : public UpdateFixture {};

TEST_F(UpdateFlowTest, BuiltInImageLandsInFlashInfoErasedFirstAndWrittenLast) {
    RunUpdate({}, CleanRunTiming());
    ExpectCompleted();

    const auto image = image::BuiltinImage();
    ASSERT_EQ(image.size(), 926464u);
    const midi::Bytes flash = m_device->Flash();
    EXPECT_TRUE(
        std::equal(image.begin() + 512, image.begin() + 512 + 4096, flash.begin() + 0x149000));
    EXPECT_TRUE(
        std::equal(image.begin() + 4864, image.begin() + 4864 + 921600, flash.begin() + 0x68000));
    // Flash outside the two regions keeps the old firmware.
    EXPECT_EQ(flash[0x67FFF], device::DeviceModel::OldFirmwareByte(0x67FFF));
    EXPECT_EQ(flash[0x149000 + 4096], device::DeviceModel::OldFirmwareByte(0x149000 + 4096));

    const auto requests = Requests(m_device->Transcript());
    ASSERT_EQ(requests.size(), 5u + 2u + 226u + 1u);
    EXPECT_EQ(requests[0], "F0 7E 00 06 01 F7");
    EXPECT_EQ(requests[1], "F0 52 00 6E 52 F7");
    EXPECT_EQ(requests[2], "F0 52 00 6E 64 44 F7");
    EXPECT_EQ(requests[3], "F0 52 00 6E 12 01 00 F7");
    EXPECT_EQ(requests[4], "F0 52 00 6E 01 F7");
    EXPECT_EQ(requests[5], "F0 52 00 6E 0A 00 20 52 00 00 00 20 00 00 00 F7");  // INFO
    EXPECT_EQ(requests[6], "F0 52 00 6E 0A 00 00 1A 00 00 00 20 38 00 00 F7");  // MAIN
    EXPECT_TRUE(StartsWith(requests[7], "F0 52 00 6E 02 00 00 1A 00 00 00 20"));
    EXPECT_TRUE(StartsWith(requests[232], "F0 52 00 6E 02 00 20 52 00 00 00 20"));  // INFO
    EXPECT_EQ(requests[233], "F0 52 00 6E 04 F7");
    EXPECT_EQ(Dialog().Procedure().RequestsSent(), 234u);
}

// A section whose flash size runs past the image's end gets zeros there: the
// image buffer reads as zero beyond the image.
TEST_F(UpdateFlowTest, FlashSizePastTheImageEndIsWrittenAsZeros) {
    std::vector<std::uint8_t> image = SmallImage(1);
    const std::size_t entry = image::EntryOffset(4);
    const std::uint32_t payload =
        image::ReadLe32(image.data() + entry + 4) + image::kSectionHeaderSize;
    const auto inImage = static_cast<std::uint32_t>(image.size()) - payload;
    image::WriteLe32(image.data() + entry + 16, inImage + 8192);
    RunUpdate({}, FastTiming(), ImageOf(image));
    ExpectCompleted();

    const midi::Bytes flash = m_device->Flash();
    const auto main = flash.begin() + 0x68000;
    EXPECT_TRUE(std::equal(image.begin() + payload, image.end(), main));
    EXPECT_TRUE(std::all_of(main + inImage, main + inImage + 8192, [](auto b) { return b == 0; }));
}

TEST_F(UpdateFlowTest, StepIndicatorStatusLineAndProgressFollowTheSteps) {
    RunUpdate({}, CleanRunTiming());

    std::vector<std::string> steps{"0/4", "1/4", "2/4", "3/4"};
    steps.insert(steps.end(), 15, "4/4");  // the empty entry, INFO's write, entries 5-17
    EXPECT_EQ(View().TextLog(Control::kStep), steps);

    std::vector<std::string> status{"", "Erasing Flash memory.", "Erasing Flash memory."};
    for (int done = 0; done < 921600; done += 4096) {
        status.push_back(update::FormatDataTransmit(done, 921600));
    }
    status.push_back("Data transmit  921600 / 921600 ");
    status.push_back("Data transmit  0 / 4096 ");
    status.push_back("Data transmit  4096 / 4096 ");
    status.push_back("Firmware update completed.");
    EXPECT_EQ(View().TextLog(Control::kStatus), status);
    EXPECT_EQ(View().TextLog(Control::kHint),
              (std::vector<std::string>{"", "Please restart the device."}));

    // Erases stand at 1 of 10 until the device agrees; writes count bytes.
    const std::vector<int> progress = View().ProgressLog();
    ASSERT_GE(progress.size(), 6u);
    EXPECT_EQ((std::vector<int>(progress.begin(), progress.begin() + 5)),
              (std::vector<int>{1, 10, 1, 10, 4096}));
    EXPECT_EQ(progress.back(), 4096);
    EXPECT_EQ(View().ProgressRange(), (std::pair<int, int>{0, 4096}));
}

TEST_F(UpdateFlowTest, RescanAfterCompletionEnablesExecuteAndHidesThePicture) {
    RunUpdate();
    ExpectCompleted();
    m_harness.Ui([&] { Dialog().OnRescanDevice(); });
    EXPECT_TRUE(View().Enabled(Control::kExecute));
    EXPECT_FALSE(View().Shown(Control::kPicRestart));
    EXPECT_EQ(View().Text(Control::kStatus), "Firmware update completed.");
    EXPECT_EQ(View().ListSelection(Control::kMidiOut), 0);

    // A second update goes through from the start.
    Execute();
    ASSERT_TRUE(m_harness.WaitIdle());
    EXPECT_EQ(m_device->Counters().Requests(device::RequestKind::kIdentity), 2);
    ExpectCompleted();
}

TEST_F(UpdateFlowTest, ExecuteDuringARunSaysInProgress) {
    device::DeviceConfig config;
    config.faults.push_back(device::Fault::Drop(device::RequestKind::kOpening, 1));
    update::Timing timing = FastTiming();
    timing.openingWait = std::chrono::milliseconds(3000);
    StartDevice(config);
    OpenDialog(timing);
    Execute();
    ASSERT_TRUE(m_device->WaitForRequests(device::RequestKind::kOpening, 1,
                                          std::chrono::milliseconds(5000)));
    EXPECT_TRUE(View().AllDisabled());
    EXPECT_FALSE(View().CloseEnabled());
    EXPECT_FALSE(Dialog().CanClose());
    m_harness.Ui([&] { Dialog().StartUpdate(); });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"In Progress."});
}

TEST_F(UpdateFlowTest, UnsolicitedDeviceMessagesDuringARunAreAnsweredAndDoNotDerailIt) {
    const std::uint8_t model = 0x6E;
    const std::vector<midi::Bytes> chatter{device::IdentityRequest(),   device::Notice(model, 0x01),
                                           device::Notice(model, 0x03), device::Notice(model, 0x04),
                                           device::Notice(model, 0x05), device::Notice(model, 0x07),
                                           device::Garbage(),           device::ShortMessage()};
    device::DeviceConfig config;
    // Before the answer, so that each comes while the worker waits. None of
    // them signals; a read-back reply does, so it comes after the last answer.
    config.faults.push_back(device::Fault::SendBefore(device::RequestKind::kErase, 2, chatter));
    config.faults.push_back(
        device::Fault::SendBefore(device::RequestKind::kPermission, 1, chatter));
    config.faults.push_back(device::Fault::SendAfter(
        device::RequestKind::kClosing, 1,
        {device::ReadBackReply(model, std::vector<std::uint8_t>{1, 2, 3})}));
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
    // The device's identity request was answered with the accepted identity.
    bool answered = false;
    for (const std::string& line : m_device->Transcript()) {
        answered |= line == "> F0 7E 00 06 02 52 6E 00 28 00 31 30 30 30 F7";
    }
    EXPECT_TRUE(answered);
}

}  // namespace
}  // namespace corvane::testing
