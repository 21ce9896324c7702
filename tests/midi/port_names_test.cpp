#include "midi/port_names.h"

#include <gtest/gtest.h>

namespace corvane::midi {
namespace {

TEST(AlsaPortName, SplitsOffClientAndPortNumbers) {
    const auto address = ParseAlsaPortName("USB Audio Device:USB Audio Device MIDI 1 20:0");
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(address->text, "USB Audio Device:USB Audio Device MIDI 1");
    EXPECT_EQ(address->client, 20);
    EXPECT_EQ(address->port, 0);
    EXPECT_EQ(AlsaClientNameFromText(address->text), "USB Audio Device");
}

TEST(AlsaPortName, RejectsNamesWithoutTrailingNumbers) {
    EXPECT_FALSE(ParseAlsaPortName("").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port 20").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port 20:").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port :0").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port 2a:0").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port -1:0").has_value());
    EXPECT_FALSE(ParseAlsaPortName("Client:Port 99999999999:0").has_value());
}

TEST(AlsaPortName, ClientNameFromTextWithoutColonIsWhole) {
    EXPECT_EQ(AlsaClientNameFromText("Lonely"), "Lonely");
    EXPECT_EQ(AlsaClientNameFromText(""), "");
}

TEST(JackPortName, IsTheTextAfterTheFirstColon) {
    EXPECT_EQ(JackPortShortName("system:midi_capture_1"), "midi_capture_1");
    EXPECT_EQ(JackPortShortName("a2j:Device [20] (capture): Device MIDI 1"),
              "Device [20] (capture): Device MIDI 1");
    EXPECT_EQ(JackPortShortName("noclient"), "noclient");
}

TEST(RawMidiAddress, DeviceFilesAndAlsaAddresses) {
    EXPECT_EQ(RawMidiAddressOfPath("/dev/snd/midiC1D0"), "hw:1,0");
    EXPECT_EQ(RawMidiAddressOfPath("/dev/snd/midiC12D3"), "hw:12,3");
    EXPECT_EQ(RawMidiAddressOfPath("hw:2,0,1"), "hw:2,0,1");
    for (const char* bad :
         {"", "hw:", "/dev/snd/midiC", "/dev/snd/midiC1", "/dev/snd/midiCD0", "/dev/snd/midiC1D",
          "/dev/snd/midiC1D0x", "/dev/snd/midiC-1D0", "/dev/snd/pcmC0D0p", "BRAX Lumen Series"}) {
        EXPECT_FALSE(RawMidiAddressOfPath(bad).has_value()) << bad;
    }
}

TEST(NumberDuplicates, FirstKeepsItsNameLaterOnesAreNumberedInOrder) {
    const std::vector<std::string> names{"USB Audio Device", "Other", "USB Audio Device",
                                         "USB Audio Device", "Other"};
    EXPECT_EQ(NumberDuplicates(names),
              (std::vector<std::string>{"USB Audio Device", "Other", "USB Audio Device (2)",
                                        "USB Audio Device (3)", "Other (2)"}));
}

TEST(NumberDuplicates, DistinctNamesAndEmptyListStayAsTheyAre) {
    EXPECT_EQ(NumberDuplicates({"A", "B", "a"}), (std::vector<std::string>{"A", "B", "a"}));
    EXPECT_TRUE(NumberDuplicates({}).empty());
}

TEST(NthDeviceNames, TheFirstByItsNameLaterOnesAsNumberedHereAndByWindows) {
    EXPECT_EQ(NthDeviceNames("USB Audio Device", 1),
              (std::vector<std::string>{"USB Audio Device"}));
    EXPECT_EQ(NthDeviceNames("USB Audio Device", 2),
              (std::vector<std::string>{"USB Audio Device (2)", "2- USB Audio Device"}));
    EXPECT_EQ(NthDeviceNames("BRAX Lumen Series", 20),
              (std::vector<std::string>{"BRAX Lumen Series (20)", "20- BRAX Lumen Series"}));
    // What NumberDuplicates makes of identical names is the later device's name.
    const auto numbered = NumberDuplicates({"USB Audio Device", "USB Audio Device"});
    EXPECT_EQ(NthDeviceNames("USB Audio Device", 2).front(), numbered[1]);
}

TEST(BaseNameOf, TheBaseAsItStandsOrNumberedAsIdenticalDevicesAre) {
    const std::vector<std::string> bases{"USB Audio Device", "BRAX Lumen Series"};
    const struct {
        const char* name;
        std::optional<std::string> base;
    } cases[] = {
        {"BRAX Lumen Series", "BRAX Lumen Series"},
        {"BRAX Lumen Series (2)", "BRAX Lumen Series"},
        {"BRAX Lumen Series (20)", "BRAX Lumen Series"},
        {"3- USB Audio Device", "USB Audio Device"},
        {"BRAX Lumen Series (1)", std::nullopt},
        {"BRAX Lumen Series ()", std::nullopt},
        {"BRAX Lumen Series (x)", std::nullopt},
        {"BRAX Lumen Series 2", std::nullopt},
        {"- USB Audio Device", std::nullopt},
        {"BRAX Lumen", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BaseNameOf(c.name, bases), c.base) << c.name;
    }
}

}  // namespace
}  // namespace corvane::midi
