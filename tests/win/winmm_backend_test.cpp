// The winmm backend and the names it reports, under Wine or on Windows.

#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "app/updater_dialog.h"
#include "midi/system_backend.h"
#include "midi/utf16_win.h"

namespace corvane::midi {
namespace {

constexpr const char* kJapaneseGenericName = "USB オーディオ デバイス";

TEST(WinmmNames, TheJapaneseGenericNameInCodePage932IsTheWantedName) {
    // The name as a Japanese system's multibyte API reports it.
    const std::string cp932 =
        "USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58";
    EXPECT_EQ(Utf8FromCodePage(932, cp932), kJapaneseGenericName);
    EXPECT_EQ(Utf8FromCodePage(932, cp932 + " (2)"), std::string(kJapaneseGenericName) + " (2)");

    const auto wanted = app::WantedPortNames(1);
    EXPECT_NE(std::find(wanted.begin(), wanted.end(), Utf8FromCodePage(932, cp932)), wanted.end());
}

TEST(WinmmNames, WideNamesBecomeUtf8AndBack) {
    const std::wstring wide = L"USB \u30AA\u30FC\u30C7\u30A3\u30AA \u30C7\u30D0\u30A4\u30B9";
    EXPECT_EQ(Utf8FromUtf16(wide), kJapaneseGenericName);
    EXPECT_EQ(Utf16FromUtf8(kJapaneseGenericName), wide);
    EXPECT_EQ(Utf8FromUtf16(L"USB Audio Device"), "USB Audio Device");
}

TEST(WinmmNames, BrokenTextBecomesEmpty) {
    EXPECT_EQ(Utf16FromUtf8("\xC3"), L"");  // cut inside a character
    EXPECT_EQ(Utf16FromUtf8("ab\xFF"
                            "cd"),
              L"");                                // not UTF-8 at all
    EXPECT_EQ(Utf8FromCodePage(932, "\x83"), "");  // a lead byte alone
    EXPECT_EQ(Utf8FromUtf16(L""), "");
}

TEST(WinmmBackend, ListsOneNameForEveryDeviceWinmmCounts) {
    auto backend = CreateSystemBackend();
    EXPECT_EQ(backend->InputPortNames().size(), midiInGetNumDevs());
    EXPECT_EQ(backend->OutputPortNames().size(), midiOutGetNumDevs());
}

TEST(WinmmBackend, RefusesIndexesOutsideTheList) {
    auto backend = CreateSystemBackend();
    const int inputs = static_cast<int>(midiInGetNumDevs());
    const int outputs = static_cast<int>(midiOutGetNumDevs());
    EXPECT_EQ(backend->OpenOutput(-1), nullptr);
    EXPECT_EQ(backend->OpenOutput(outputs), nullptr);
    EXPECT_EQ(backend->OpenInput(-1, [](ByteView) {}), nullptr);
    EXPECT_EQ(backend->OpenInput(inputs, [](ByteView) {}), nullptr);
}

TEST(WinmmBackend, HasNoVirtualPorts) {
    EXPECT_EQ(OpenVirtualPorts("Corvane Test Device", [](ByteView) {}), nullptr);
}

// Only where winmm has devices (Wine reaches them through the ALSA sequencer).
TEST(WinmmBackend, OpensEveryDeviceAndSendsASysExWhole) {
    auto backend = CreateSystemBackend();
    const auto outputs = backend->OutputPortNames();
    const auto inputs = backend->InputPortNames();
    if (outputs.empty() && inputs.empty()) {
        GTEST_SKIP() << "winmm lists no MIDI devices here";
    }
    const Bytes identityRequest{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    for (int i = 0; i < static_cast<int>(outputs.size()); ++i) {
        auto output = backend->OpenOutput(i);
        ASSERT_NE(output, nullptr) << outputs[static_cast<std::size_t>(i)];
        EXPECT_TRUE(output->Send(identityRequest)) << outputs[static_cast<std::size_t>(i)];
        EXPECT_FALSE(output->Send({})) << outputs[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < static_cast<int>(inputs.size()); ++i) {
        // Closing gives the queued receive buffers back without queueing them again.
        auto input = backend->OpenInput(i, [](ByteView) {});
        EXPECT_NE(input, nullptr) << inputs[static_cast<std::size_t>(i)];
    }
}

}  // namespace
}  // namespace corvane::midi
