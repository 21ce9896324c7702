// corvane-flash and corvane-devsim as processes: what a script driving them
// sees (exit status, output, the device's transcript).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/message_set.h"
#include "version/program_version.h"

namespace {

namespace fs = std::filesystem;

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class ToolProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("corvane-tools-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    Ran Run(const std::string& program, const std::string& args) {
        const fs::path out = m_dir / "stdout";
        const fs::path err = m_dir / "stderr";
        const std::string command =
            program + " " + args + " >" + out.string() + " 2>" + err.string() + " </dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
    }
    fs::path Path(const char* name) const { return m_dir / name; }

    fs::path m_dir;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// "<outcome> in <seconds with three decimals> s, <requests> requests".
bool IsSummary(const std::string& line, const std::string& outcome, int requests) {
    const std::string head = outcome + " in ";
    const std::string tail = " s, " + std::to_string(requests) + " requests";
    if (!line.starts_with(head) || !line.ends_with(tail) ||
        line.size() < head.size() + tail.size()) {
        return false;
    }
    const std::string seconds = line.substr(head.size(), line.size() - head.size() - tail.size());
    const auto dot = seconds.find('.');
    return dot != std::string::npos && dot > 0 && seconds.size() - dot == 4 &&
           seconds.find_first_not_of("0123456789.") == std::string::npos &&
           seconds.find('.', dot + 1) == std::string::npos;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    std::istringstream in(hex);
    for (std::string pair; in >> pair;) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

// A received request in words: its kind and, for erases and blocks, the address.
std::string Describe(const std::vector<std::uint8_t>& m) {
    using namespace corvane::protocol;
    if (m.size() < 6) {
        return "short";
    }
    if (m[1] == 0x7E) {
        return m[4] == 0x01 ? "identity" : "universal";
    }
    switch (m[4]) {
        case fn::kOpening:
            return "opening";
        case fn::kVersion:
            return "version";
        case fn::kUpdatePermission:
            return "permission " + std::to_string(DecodeTwoGroups(&m[5]));
        case fn::kPrepare:
            return "prepare";
        case fn::kErase:
            return "erase " + std::to_string(DecodeFiveGroups(&m[5])) + " " +
                   std::to_string(DecodeFiveGroups(&m[10]));
        case fn::kBlockWrite:
            return "block " + std::to_string(Read(m, BlockWrite::kAddress)) + " " +
                   std::to_string(Read(m, BlockWrite::kLength));
        case fn::kClosing:
            return "closing";
        default:
            return "other";
    }
}

TEST_F(ToolProcessTest, SimulatedUpdateSendsTheRequestsOfACleanUpdateInOrder) {
    const Ran ran = Run(CORVANE_FLASH, "--simulate --transcript " + Path("t.txt").string());
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
    const auto out = Lines(ran.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(IsSummary(out.back(), "completed", 234)) << out.back();

    std::vector<std::string> expected{"identity",           "opening", "version",
                                      "permission 1",       "prepare", "erase 1347584 4096",
                                      "erase 425984 921600"};
    for (std::uint32_t done = 0; done < 921600; done += 4096) {
        expected.push_back("block " + std::to_string(0x68000 + done) + " 4096");
    }
    expected.push_back("block 1347584 4096");
    expected.push_back("closing");

    std::vector<std::string> received;
    for (const std::string& line : Lines(ReadText(Path("t.txt")))) {
        ASSERT_TRUE(line.starts_with("> ") || line.starts_with("< ")) << line;
        if (line.starts_with("> ")) {
            received.push_back(Describe(FromHex(line.substr(2))));
        }
    }
    EXPECT_EQ(received, expected);
}

TEST_F(ToolProcessTest, LowBatteryFailsWithTheErrorBoxText) {
    const Ran ran = Run(CORVANE_FLASH, "--simulate --prepare low-battery");
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "Error: Low Battery\n");
    const auto out = Lines(ran.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(IsSummary(out.back(), "failed", 5)) << ran.out;
}

// One answer whose status byte is no data byte: dropped, the block sent
// again, the update completed.
TEST_F(ToolProcessTest, AnAnswerWithAByteAbove127IsNotBelieved) {
    const Ran ran = Run(CORVANE_FLASH, "--simulate --fault corrupt:block:1:0xFF");
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
}

TEST_F(ToolProcessTest, PortsChosenByExactNameOnly) {
    Ran ran = Run(CORVANE_FLASH, "--simulate --name 'Other Device' --in 'Other Device'");
    EXPECT_EQ(ran.status, 1);
    // The input was chosen by name; the output list has no pre-selected entry.
    EXPECT_EQ(ran.err, "Error: Can't open MIDI Out device.\n");

    ran = Run(CORVANE_FLASH, "--simulate --name 'Other Device' --in 'Other' --out 'Other Device'");
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "Error: no MIDI IN port named \"Other\"\n");
}

TEST_F(ToolProcessTest, ListShowsThePreSelectionOfTheInstance) {
    Ran ran = Run(CORVANE_FLASH, "--simulate --name 'BRAX Lumen Series (2)' --list");
    EXPECT_EQ(ran.status, 0);
    EXPECT_NE(ran.out.find("  0  BRAX Lumen Series (2)"), std::string::npos) << ran.out;
    ran = Run(CORVANE_FLASH, "--simulate --name 'BRAX Lumen Series (2)' --instance 2 --list");
    EXPECT_NE(ran.out.find("* 0  BRAX Lumen Series (2)"), std::string::npos) << ran.out;
}

TEST_F(ToolProcessTest, ADamagedImageFileIsRefusedByTheSameChecks) {
    const fs::path image = Path("image.bin");
    {
        std::ofstream file(image, std::ios::binary);
        file << "not a firmware container";
    }
    const Ran ran = Run(CORVANE_FLASH, "--simulate --image " + image.string());
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "Error: Illegal device connected.\n");
    EXPECT_EQ(Run(CORVANE_FLASH, "--image " + Path("missing.bin").string()).status, 1);
}

// Three devices at once, the second at low battery: it alone fails, and the
// end table and the exit status say so.
TEST_F(ToolProcessTest, AllDevicesAtOnceReportEachOutcome) {
    const Ran ran = Run(CORVANE_FLASH,
                        "--all --simulate 3 --unit 2 --prepare low-battery --unit 3 "
                        "--flash-dump " +
                            Path("3.bin").string());
    EXPECT_EQ(ran.status, 1) << ran.err;
    const auto out = Lines(ran.out);
    ASSERT_GE(out.size(), 4u);
    const std::vector<std::string> table(out.end() - 4, out.end());
    EXPECT_TRUE(table[0].starts_with("#  SOCKET  NAME")) << ran.out;
    for (int device = 1; device <= 3; ++device) {
        const std::string& row = table[static_cast<std::size_t>(device)];
        const std::string outcome = device == 2 ? "Low Battery" : "completed";
        EXPECT_TRUE(row.starts_with(std::to_string(device) + "  sim-" + std::to_string(device) +
                                    "   BRAX Lumen Series  " + outcome))
            << row;
    }
    EXPECT_EQ(fs::file_size(Path("3.bin")), 2u << 20);
    EXPECT_EQ(Run(CORVANE_FLASH, "--all --simulate 2").status, 0);
    // No device to update is no success.
    EXPECT_EQ(Run(CORVANE_FLASH, "--all --simulate --name Lumen --unit 1 --name Other").status, 1);
}

TEST_F(ToolProcessTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Run(CORVANE_FLASH, "--fault drop:block:1").status, 2);
    EXPECT_EQ(Run(CORVANE_FLASH, "--simulate --identity XYZ").status, 2);
    EXPECT_EQ(Run(CORVANE_FLASH, "--all --simulate 0").status, 2);
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--fault drop:nothing:1").status, 2);
    const Ran ran = Run(CORVANE_DEVSIM, "--bogus");
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find("unknown option '--bogus'"), std::string::npos);
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--help").status, 0);
}

TEST_F(ToolProcessTest, DevsimOnRawMidiNeedsOnePortThatIsThere) {
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--rawmidi").status, 2);
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--usb-gadget").status, 2);
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--rawmidi hw:0,0 --usb-gadget auto").status, 2);
    // No such port (nor any sound card): the device cannot appear.
    const Ran ran = Run(CORVANE_DEVSIM, "--rawmidi 'No Such Device'");
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("no raw MIDI port \"No Such Device\""), std::string::npos) << ran.err;
}

}  // namespace

// --version alone is the program's version; after --simulate it stays the
// simulated device's version option, which takes a value.
TEST_F(ToolProcessTest, VersionAloneIsTheProgramsAndAfterSimulateTheDevices) {
    const std::string version = std::string(corvane::ProjectVersion()) + "\n";
    EXPECT_EQ(Run(CORVANE_FLASH, "--version").out, "corvane-flash " + version);
    EXPECT_EQ(Run(CORVANE_DEVSIM, "--version").out, "corvane-devsim " + version);

    const Ran ran = Run(CORVANE_FLASH, "--simulate --version 02000000 --transcript " +
                                           Path("transcript.txt").string());
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out.find("corvane-flash " + version), std::string::npos);
}
