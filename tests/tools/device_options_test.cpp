// The command-line words of the device simulator and the console flasher.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/device_options.h"
#include "tools/flash_options.h"

namespace corvane::tools {
namespace {

using device::FaultAction;
using device::RequestKind;

struct Parsed {
    std::optional<DeviceOptions> options;
    std::string error;
};

Parsed ParseDevice(std::vector<std::string> args) {
    DeviceOptionParser parser;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionMatch match = parser.Offer(args, i);
        if (match != OptionMatch::kTaken) {
            return {std::nullopt, match == OptionMatch::kBad ? parser.Error() : "not mine"};
        }
    }
    return {parser.Finish(), {}};
}

device::Fault OneFault(const std::string& text) {
    const Parsed parsed = ParseDevice({"--fault", text});
    EXPECT_TRUE(parsed.options) << text << ": " << parsed.error;
    if (!parsed.options || parsed.options->config.faults.size() != 1) {
        ADD_FAILURE() << text << " made no single fault";
        return {};
    }
    return parsed.options->config.faults.front();
}

TEST(DeviceOptionsTest, DeviceValuesReachTheConfig) {
    const Parsed parsed =
        ParseDevice({"--name",   "Lumen (2)",    "--identity",   "6e002900",        "--version",
                     "0A0B0C0D", "--prepare",    "restart",      "--restart-delay", "forever",
                     "--permit", "1,0x3",        "--flash-size", "0x400000",        "--seed",
                     "7",        "--transcript", "t.txt",        "--flash-dump",    "f.bin"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const DeviceOptions& o = *parsed.options;
    EXPECT_EQ(o.config.portName, "Lumen (2)");
    EXPECT_EQ(o.config.identity, (std::array<std::uint8_t, 4>{0x6E, 0x00, 0x29, 0x00}));
    EXPECT_EQ(o.config.version, (std::array<std::uint8_t, 4>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(o.config.prepareStatus, device::kPrepareRestart);
    EXPECT_EQ(o.config.restartDelay, device::kForever);
    EXPECT_EQ(o.config.permittedTypes, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(o.config.flashSize, 0x400000u);
    EXPECT_EQ(o.config.seed, 7u);
    EXPECT_EQ(o.transcriptPath, "t.txt");
    EXPECT_EQ(o.flashDumpPath, "f.bin");
}

TEST(DeviceOptionsTest, PrepareAnswersByWordOrNumber) {
    EXPECT_EQ(ParseDevice({"--prepare", "low-battery"}).options->config.prepareStatus,
              device::kPrepareLowBattery);
    EXPECT_EQ(ParseDevice({"--prepare", "ready"}).options->config.prepareStatus,
              device::kPrepareReady);
    EXPECT_EQ(ParseDevice({"--prepare", "0x22"}).options->config.prepareStatus, 0x22);
    EXPECT_FALSE(ParseDevice({"--prepare", "128"}).options);
    EXPECT_FALSE(ParseDevice({"--prepare", "later"}).options);
    EXPECT_EQ(ParseDevice({"--permit", "none"}).options->config.permittedTypes,
              std::vector<std::uint32_t>{});
}

TEST(DeviceOptionsTest, FaultForms) {
    device::Fault f = OneFault("drop:block:5x3");
    EXPECT_EQ(f.action, FaultAction::kDrop);
    EXPECT_EQ(f.request, RequestKind::kBlockWrite);
    EXPECT_EQ(f.nth, 5);
    EXPECT_EQ(f.times, 3);

    f = OneFault("delay:erase:1:1500");
    EXPECT_EQ(f.action, FaultAction::kDelay);
    EXPECT_EQ(f.request, RequestKind::kErase);
    EXPECT_EQ(f.duration, device::Millis{1500});

    // Late: after the updater's own wait for a block (1,000 ms) has passed.
    f = OneFault("late:block:2");
    EXPECT_EQ(f.action, FaultAction::kBusy);
    EXPECT_GT(f.duration, device::Millis{1000});

    EXPECT_EQ(OneFault("busy:block:1:2500").duration, device::Millis{2500});
    EXPECT_EQ(OneFault("twice:erase:1").action, FaultAction::kDuplicate);
    EXPECT_EQ(OneFault("corrupt:closing:1").status, 0xFF);
    EXPECT_EQ(OneFault("corrupt:closing:1:0x80").status, 0x80);

    f = OneFault("refuse:prepare:1:0x05");
    EXPECT_EQ(f.action, FaultAction::kRefuse);
    EXPECT_EQ(f.status, 0x05);
    EXPECT_EQ(OneFault("refuse:closing:1").status, 0x01);

    f = OneFault("drop:block:10%");
    EXPECT_DOUBLE_EQ(f.share, 0.10);

    EXPECT_EQ(OneFault("vanish:opening:1").duration, device::kForever);
    EXPECT_EQ(OneFault("vanish:opening:1:250").duration, device::Millis{250});
}

TEST(DeviceOptionsTest, UnsolicitedMessagesCarryTheModelByteOfIdentityWhereverItStands) {
    const Parsed parsed = ParseDevice(
        {"--fault", "after:opening:1:notice-05,F07E7F0601F7,garbage", "--identity", "6D000000"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const device::Fault& f = parsed.options->config.faults.at(0);
    EXPECT_EQ(f.action, FaultAction::kSendAfter);
    ASSERT_EQ(f.messages.size(), 3u);
    EXPECT_EQ(f.messages[0], (midi::Bytes{0xF0, 0x52, 0x00, 0x6D, 0x05, 0xF7}));
    EXPECT_EQ(f.messages[1], (midi::Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
}

TEST(DeviceOptionsTest, BadValuesAreRefusedWithTheReason) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--identity", "6E0028"}, "8 hex digits"},
        {{"--identity", "6E00280G"}, "8 hex digits"},
        {{"--version"}, "needs a value"},
        {{"--fault", "drop:flash:1"}, "unknown request kind"},
        {{"--fault", "explode:block:1"}, "unknown fault action"},
        {{"--fault", "drop:block:0"}, "bad request count"},
        {{"--fault", "drop:block:1x0"}, "bad request count"},
        {{"--fault", "drop:block:101%"}, "bad request count"},
        {{"--fault", "drop:block"}, "ACTION:KIND:WHICH"},
        {{"--fault", "drop:block:1:9"}, "takes no value"},
        {{"--fault", "delay:block:1"}, "needs a delay"},
        {{"--fault", "refuse:block:1:200"}, "status"},
        {{"--fault", "before:block:1:F0F"}, "unknown message"},
        {{"--flash-size", "0"}, "bytes"},
        {{"--flash-size", "0x8000000"}, "bytes"},
        {{"--seed", "-1"}, "number"},
        {{"--restart-delay", "soon"}, "milliseconds"},
        {{"--name", ""}, "empty"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = ParseDevice(c.args);
        EXPECT_FALSE(parsed.options) << c.args.front();
        EXPECT_NE(parsed.error.find(c.says), std::string::npos)
            << c.args.front() << ": " << parsed.error;
    }
    EXPECT_EQ(ParseDevice({"--verbose"}).error, "not mine");
}

TEST(FlashOptionsTest, PortChoicesAndSimulation) {
    const std::vector<std::string> args{"--instance", "3",       "--in",       "A",
                                        "--out",      "B",       "--simulate", "--prepare",
                                        "restart",    "--image", "x.bin"};
    const FlashCommandLine command = ParseFlashOptions(args);
    ASSERT_TRUE(command.options) << command.error;
    EXPECT_EQ(command.options->instance, 3);
    EXPECT_EQ(command.options->inPort, "A");
    EXPECT_EQ(command.options->outPort, "B");
    EXPECT_EQ(command.options->imagePath, "x.bin");
    EXPECT_TRUE(command.options->simulate);
    EXPECT_EQ(command.options->device.config.prepareStatus, device::kPrepareRestart);
}

TEST(FlashOptionsTest, AllWithOptionsOfEachSimulatedDevice) {
    const std::vector<std::string> args{"--all",  "--json", "--simulate",   "3",
                                        "--name", "Lumen",  "--prepare",    "restart",
                                        "--unit", "2",      "--prepare",    "low-battery",
                                        "--unit", "3",      "--flash-dump", "3.bin"};
    const FlashCommandLine command = ParseFlashOptions(args);
    ASSERT_TRUE(command.options) << command.error;
    const FlashOptions& o = *command.options;
    EXPECT_TRUE(o.all && o.json && o.simulate);
    EXPECT_EQ(o.simulated, 3);
    EXPECT_EQ(o.names, std::vector<std::string>{"Lumen"});
    EXPECT_EQ(o.device.config.prepareStatus, device::kPrepareRestart);
    ASSERT_EQ(o.units.size(), 2u);
    // A unit starts from the common options and keeps its own.
    EXPECT_EQ(o.units.at(2).config.prepareStatus, device::kPrepareLowBattery);
    EXPECT_EQ(o.units.at(2).config.portName, "Lumen");
    EXPECT_EQ(o.units.at(3).config.prepareStatus, device::kPrepareRestart);
    EXPECT_EQ(o.units.at(3).flashDumpPath, "3.bin");
    EXPECT_TRUE(o.device.flashDumpPath.empty());
    // --all on the system's ports looks for the name without simulating it.
    EXPECT_TRUE(ParseFlashOptions(std::vector<std::string>{"--all", "--name", "X"}).options);
}

TEST(FlashOptionsTest, UsageErrors) {
    const std::vector<std::vector<std::string>> cases{
        {"--instance", "0"},
        {"--instance", "21"},
        {"--instance"},
        {"--prepare", "restart"},  // a device option without a device to give it to
        {"--frobnicate"},
        {"--simulate", "--fault", "drop:nothing:1"},
        {"--all", "--simulate", "0"},
        {"--all", "--simulate", "101"},
        {"--simulate", "3"},  // several devices need --all
        {"--json"},
        {"--all", "--in", "A"},
        {"--all", "--simulate", "2", "--unit", "3", "--prepare", "restart"},
        {"--all", "--simulate", "2", "--flash-dump", "f.bin"},  // whose flash?
        {"--all", "--wait", "--simulate"},
    };
    for (const auto& args : cases) {
        EXPECT_FALSE(ParseFlashOptions(args).options) << args.front();
    }
}

}  // namespace
}  // namespace corvane::tools
