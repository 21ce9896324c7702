// Runs the corvane-image program: builds containers from payload files, then
// verifies and inspects them, as a release engineer would.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "image_builder.h"

namespace corvane::image {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ImageTool : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(::testing::TempDir()) /
                ("corvane-image-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    ToolRun Tool(const std::string& args) {
        const std::string out = (m_dir / "stdout").string();
        const std::string err = (m_dir / "stderr").string();
        const std::string command =
            std::string("'") + CORVANE_IMAGE_TOOL + "' " + args + " >'" + out + "' 2>'" + err + "'";
        ToolRun run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = Slurp(out);
        run.err = Slurp(err);
        return run;
    }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    static std::string Slurp(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The all-slots container, built through the tool from payload files.
    std::string BuildAllSlots() {
        std::string args = "build --out '" + Path("all.bin") + "' --update-type 7";
        const char* names[] = {"INFO", "BOOT", "PRST", "FILE", "MAIN", "5", "6", "7"};
        for (const SectionSource& source : test::AllSlotsLayout().sections) {
            const std::string file = "payload" + std::to_string(source.slot);
            WriteFile(file, source.payload);
            args += " --section '" + std::string(names[source.slot]) + "=" + Path(file) + "@" +
                    std::to_string(source.flashAddress);
            if (source.checkedLength) {
                args += ":" + std::to_string(*source.checkedLength);
            }
            args += "'";
        }
        const ToolRun build = Tool(args);
        EXPECT_EQ(build.status, 0) << build.err;
        return Path("all.bin");
    }

    fs::path m_dir;
};

TEST_F(ImageTool, BuildMatchesTheLibraryWriterAndVerifies) {
    const std::string image = BuildAllSlots();
    ContainerLayout layout = test::AllSlotsLayout();
    layout.notice.clear();
    EXPECT_EQ(test::ReadFileBytes(image), test::Build(layout));

    const ToolRun verify = Tool("verify '" + image + "'");
    EXPECT_EQ(verify.status, 0) << verify.err;
    const ToolRun sameBoot = Tool("verify '" + image + "' --device-version 01020304");
    EXPECT_EQ(sameBoot.status, 0) << sameBoot.err;
}

TEST_F(ImageTool, InfoShowsEverySlotsVerdict) {
    const std::string image = BuildAllSlots();
    const ToolRun info = Tool("info '" + image + "'");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("section mask    0xFF"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("update type     7"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("verdict: accepted"), std::string::npos) << info.out;
    // Slots 0-7 are checked and good; slot 8 can never be present.
    std::istringstream lines(info.out);
    std::string line;
    int good = 0;
    while (std::getline(lines, line)) {
        good += line.ends_with("  ok") ? 1 : 0;
    }
    EXPECT_EQ(good, 8) << info.out;

    const ToolRun skipped = Tool("info '" + image + "' --device-version 01020304");
    EXPECT_EQ(skipped.status, 0);
    EXPECT_NE(skipped.out.find("skipped: boot trailer equals device version"), std::string::npos)
        << skipped.out;
}

TEST_F(ImageTool, VerifyNamesTheSlotAndCheckThatFailed) {
    auto bytes = test::ReadFileBytes(BuildAllSlots());
    bytes[test::AreaOffset(bytes, 4) + kSectionHeaderSize] ^= 0x01;
    WriteFile("bad.bin", bytes);
    const ToolRun verify = Tool("verify '" + Path("bad.bin") + "'");
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.err.find("slot 4 (MAIN): checksum mismatch"), std::string::npos) << verify.err;

    const ToolRun info = Tool("info '" + Path("bad.bin") + "'");
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("verdict: refused: slot 4 (MAIN)"), std::string::npos) << info.out;
}

TEST_F(ImageTool, UnusableFilesAreRefusedWithAMessage) {
    WriteFile("empty.bin", {});
    WriteFile("garbage.bin", test::Payload(3000, 77));
    auto truncated = test::ReadFileBytes(BuildAllSlots());
    truncated.resize(300);
    WriteFile("truncated.bin", truncated);
    std::filesystem::resize_file(Path("empty.bin"), 0);
    {
        std::ofstream big(Path("big.bin"), std::ios::binary);
        big.seekp(kImageBufferSize);
        big.put('\0');
    }
    for (const char* name : {"empty.bin", "garbage.bin", "truncated.bin", "big.bin", "missing"}) {
        SCOPED_TRACE(name);
        const ToolRun verify = Tool(std::string("verify '") + Path(name) + "'");
        EXPECT_EQ(verify.status, 1);
        EXPECT_FALSE(verify.err.empty());
        const ToolRun info = Tool(std::string("info '") + Path(name) + "'");
        EXPECT_EQ(info.status, 1);
    }
}

TEST_F(ImageTool, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("verify").status, 2);
    EXPECT_EQ(Tool("verify x --device-version 123").status, 2);
    EXPECT_EQ(Tool("build --out x").status, 2);
    EXPECT_EQ(Tool("build --out x --section NOPE=y@0").status, 2);
    EXPECT_EQ(Tool("build --out x --section INFO=y").status, 2);
}

}  // namespace
}  // namespace corvane::image
