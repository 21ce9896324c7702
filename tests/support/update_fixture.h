#pragma once
// An update as a user runs it: the toolkit-free dialog with its recording
// window, and a simulated device on the same loopback MIDI system.

#include <gtest/gtest.h>

#include <memory>

#include "device/loopback_ports.h"
#include "image/builtin_image.h"
#include "image/container_writer.h"
#include "support/dialog_harness.h"
#include "support/flash_image.h"

namespace corvane::testing {

class UpdateFixture : public ::testing::Test {
protected:
    using Kind = device::RequestKind;

    void StartDevice(device::DeviceConfig config = {}) {
        m_device = device::StartLoopbackDevice(m_backend, std::move(config));
    }
    void OpenDialog(update::Timing timing = FastTiming(), update::ImageSource image = {},
                    bool holdDelayed = false) {
        DialogHarness::Options options;
        options.timing = timing;
        options.image = std::move(image);
        m_harness.Open(options, holdDelayed);
    }
    void Execute() {
        m_harness.Ui([&] { m_harness.Dialog().OnExecute(); });
    }
    // Starts an update on a device with `config` and waits until the run ends.
    void RunUpdate(device::DeviceConfig config = {}, update::Timing timing = FastTiming(),
                   update::ImageSource image = {}) {
        StartDevice(std::move(config));
        OpenDialog(timing, std::move(image));
        Execute();
        ASSERT_TRUE(m_harness.WaitIdle());
    }

    RecordingView& View() { return m_harness.View(); }
    app::CVekUpdatorDlg& Dialog() { return m_harness.Dialog(); }
    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : View().Boxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    // The state after a failed run: one box with `text`, controls restored.
    void ExpectFailedWith(const std::string& text) {
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{text});
        EXPECT_TRUE(View().AllEnabled());
        EXPECT_TRUE(View().CloseEnabled());
        EXPECT_FALSE(Dialog().Running());
        EXPECT_NE(View().Text(app::Control::kStatus), "Firmware update completed.");
    }
    void ExpectCompleted() {
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
        EXPECT_EQ(View().Text(app::Control::kStatus), "Firmware update completed.");
        EXPECT_EQ(View().Text(app::Control::kHint), "Please restart the device.");
        EXPECT_TRUE(View().Shown(app::Control::kPicRestart));
        EXPECT_FALSE(View().Enabled(app::Control::kExecute));
        EXPECT_TRUE(View().Enabled(app::Control::kExit));
        EXPECT_TRUE(View().CloseEnabled());
    }

    midi::LoopbackBackend m_backend;
    std::unique_ptr<device::SimulatedDevice> m_device;
    DialogHarness m_harness{m_backend};  // last: the dialog goes before the device
};

// A small container: INFO of one block and MAIN of `mainBlocks` blocks plus a
// short tail, so that a run takes few requests.
inline std::vector<std::uint8_t> SmallImage(int mainBlocks = 2, std::uint8_t updateType = 1) {
    image::ContainerLayout layout;
    layout.updateType = updateType;
    std::vector<std::uint8_t> info(4096);
    std::vector<std::uint8_t> main(static_cast<std::size_t>(mainBlocks) * 4096 + 100);
    for (std::size_t i = 0; i < info.size(); ++i) {
        info[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    for (std::size_t i = 0; i < main.size(); ++i) {
        main[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    layout.sections.push_back({0, info, 0x149000, std::nullopt});
    layout.sections.push_back({4, main, 0x68000, std::nullopt});
    return image::WriteContainer(layout).bytes;
}

inline update::ImageSource ImageOf(std::vector<std::uint8_t> bytes) {
    auto shared = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    return [shared] { return std::span<const std::uint8_t>(*shared); };
}

}  // namespace corvane::testing
