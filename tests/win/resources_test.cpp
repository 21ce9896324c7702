// The resources the updater's executable carries, read back with the Windows
// API as the program reads them.

#include "image/builtin_image.h"
#include "update/strings.h"

#include <windows.h>
// windows.h names its own LoadString; the updater's is meant here.
#undef LoadString

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/win/resource_ids.h"
#include "midi/utf16_win.h"

namespace corvane::app::win {
namespace {

std::span<const std::uint8_t> Resource(const wchar_t* type, int id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
    return {static_cast<const std::uint8_t*>(data), SizeofResource(nullptr, found)};
}

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

TEST(WindowResources, TheStringTableHoldsTheUpdatersTexts) {
    for (int id = update::IDS_ABOUTBOX; id <= update::IDS_RESTART_DEVICE; ++id) {
        const wchar_t* text = nullptr;
        // Length 0 asks for a pointer to the text in place.
        const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                       reinterpret_cast<LPWSTR>(&text), 0);
        ASSERT_GT(length, 0) << id;
        EXPECT_EQ(midi::Utf8FromUtf16(std::wstring_view(text, static_cast<std::size_t>(length))),
                  update::LoadString(static_cast<update::StringId>(id)))
            << id;
    }
    const wchar_t* beyond = nullptr;
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 122, reinterpret_cast<LPWSTR>(&beyond), 0), 0);
}

struct DialogItem {
    std::uint32_t style = 0;
    int id = 0;
    int classOrdinal = 0;  // 0 where the class is given by name
    std::wstring text;
};

// Reads a name-or-ordinal field of a dialog template and steps past it.
std::wstring NameOrOrdinal(std::span<const std::uint8_t> bytes, std::size_t& at, int* ordinal) {
    std::wstring name;
    if (Word(bytes, at) == 0xFFFF) {
        if (ordinal != nullptr) {
            *ordinal = Word(bytes, at + 2);
        }
        at += 4;
        return name;
    }
    for (; Word(bytes, at) != 0; at += 2) {
        name.push_back(static_cast<wchar_t>(Word(bytes, at)));
    }
    at += 2;
    return name;
}

std::uint32_t DoubleWord(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return Word(bytes, offset) | static_cast<std::uint32_t>(Word(bytes, offset + 2)) << 16;
}

// The controls of a DLGTEMPLATEEX in their template order, which is their
// tab and z order.
std::vector<DialogItem> DialogItems(std::span<const std::uint8_t> dialog) {
    std::size_t at = 26;
    NameOrOrdinal(dialog, at, nullptr);  // menu
    NameOrOrdinal(dialog, at, nullptr);  // class
    NameOrOrdinal(dialog, at, nullptr);  // caption
    if (DoubleWord(dialog, 12) & DS_SETFONT) {
        at += 6;
        NameOrOrdinal(dialog, at, nullptr);
    }
    std::vector<DialogItem> items(Word(dialog, 16));
    for (DialogItem& item : items) {
        at = (at + 3) & ~std::size_t{3};
        item.style = DoubleWord(dialog, at + 8);
        item.id = static_cast<int>(DoubleWord(dialog, at + 20));
        at += 24;
        NameOrOrdinal(dialog, at, &item.classOrdinal);
        item.text = NameOrOrdinal(dialog, at, nullptr);
        at += 2 + Word(dialog, at);
    }
    return items;
}

TEST(WindowResources, DialogTemplate103HasItsSizeAndThirteenControls) {
    const auto dialog = Resource(MAKEINTRESOURCEW(5), IDD_UPDATER_DIALOG);  // RT_DIALOG
    ASSERT_GE(dialog.size(), 26u);
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, ..., item count at 16,
    // position and size at 18.
    EXPECT_EQ(Word(dialog, 0), 1);
    EXPECT_EQ(Word(dialog, 2), 0xFFFF);
    EXPECT_EQ(Word(dialog, 16), 13);
    EXPECT_EQ(Word(dialog, 22), 239);
    EXPECT_EQ(Word(dialog, 24), 225);
}

// A screen reader names a control after the label just before it, and a
// label's mnemonic moves to the next tab stop; Enter goes to the one default
// button, which must not be Execute, and the first tab stop has the focus.
TEST(WindowResources, DialogTemplate103ServesTheKeyboardAndScreenReaders) {
    const auto dialog = Resource(MAKEINTRESOURCEW(5), IDD_UPDATER_DIALOG);  // RT_DIALOG
    ASSERT_GE(dialog.size(), 26u);
    const std::vector<DialogItem> items = DialogItems(dialog);
    ASSERT_EQ(items.size(), 13u);
    constexpr int kButton = 0x80;
    constexpr int kStatic = 0x82;

    const std::pair<std::wstring, int> labels[] = {{L"MIDI &IN", IDC_MIDI_IN},
                                                   {L"MIDI &OUT", IDC_MIDI_OUT}};
    for (const auto& [text, named] : labels) {
        const auto label = std::find_if(items.begin(), items.end(),
                                        [&](const DialogItem& i) { return i.text == text; });
        ASSERT_NE(label, items.end());
        EXPECT_EQ(label->classOrdinal, kStatic);
        ASSERT_NE(label + 1, items.end());
        EXPECT_EQ((label + 1)->id, named);
    }

    std::vector<int> defaults;
    std::wstring mnemonics;
    for (const DialogItem& item : items) {
        if (item.classOrdinal == kButton && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            defaults.push_back(item.id);
        }
        if ((item.classOrdinal == kButton || item.classOrdinal == kStatic) && !item.text.empty()) {
            const std::size_t amp = item.text.find(L'&');
            ASSERT_LT(amp + 1, item.text.size()) << midi::Utf8FromUtf16(item.text);
            EXPECT_EQ(item.text.find(L'&', amp + 1), std::wstring::npos);
            const wchar_t key = static_cast<wchar_t>(towupper(item.text[amp + 1]));
            EXPECT_EQ(mnemonics.find(key), std::wstring::npos) << midi::Utf8FromUtf16(item.text);
            mnemonics.push_back(key);
        }
    }
    EXPECT_EQ(defaults, std::vector<int>{IDC_RESCAN});
    EXPECT_EQ(mnemonics.size(), 5u);

    const auto firstStop = std::find_if(items.begin(), items.end(), [](const DialogItem& i) {
        return (i.style & WS_TABSTOP) && (i.style & WS_VISIBLE);
    });
    ASSERT_NE(firstStop, items.end());
    EXPECT_EQ(firstStop->id, IDC_MIDI_IN);
}

TEST(WindowResources, IconGroup128HasThreeSizesAtThreeDepths) {
    const auto group = Resource(MAKEINTRESOURCEW(14), IDR_MAINFRAME);  // RT_GROUP_ICON
    ASSERT_GE(group.size(), 6u);
    const std::size_t count = Word(group, 4);
    ASSERT_EQ(count, 9u);
    ASSERT_GE(group.size(), 6 + 14 * count);
    std::vector<std::pair<int, int>> images;  // (size, bits)
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 14 * i;
        images.emplace_back(group[entry], Word(group, entry + 6));
    }
    for (int size : {48, 32, 16}) {
        for (int bits : {4, 8, 24}) {
            EXPECT_NE(std::find(images.begin(), images.end(), std::pair{size, bits}), images.end())
                << size << " x " << size << " at " << bits << " bits";
        }
    }
    EXPECT_NE(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32,
                         32, 0),
              nullptr);
}

TEST(WindowResources, Bitmap1004IsTheRestartPictureAt24Bits) {
    HBITMAP bitmap =
        static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_RESTART),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_NE(GetObjectW(bitmap, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, 159);
    EXPECT_EQ(info.bmHeight, 69);
    EXPECT_EQ(info.bmBitsPixel, 24);
    // Drawn, not blank: the two panels have more than a handful of colours.
    const auto* pixels = static_cast<const std::uint8_t*>(info.bmBits);
    ASSERT_NE(pixels, nullptr);
    std::vector<std::uint32_t> colours;
    for (int y = 0; y < info.bmHeight; ++y) {
        for (int x = 0; x < info.bmWidth; ++x) {
            const std::uint8_t* p = pixels + y * info.bmWidthBytes + x * 3;
            const std::uint32_t colour = p[0] | p[1] << 8 | p[2] << 16;
            if (std::find(colours.begin(), colours.end(), colour) == colours.end()) {
                colours.push_back(colour);
            }
        }
    }
    EXPECT_GT(colours.size(), 8u);
    DeleteObject(bitmap);
}

TEST(WindowResources, TheManifestAsksForCommonControls6AndDpiAwareness) {
    const auto manifest = Resource(MAKEINTRESOURCEW(24), 1);  // RT_MANIFEST
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("<dpiAware"), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
}

TEST(WindowResources, TheFirmwareImageIsResourceBin144) {
    const auto resource = Resource(L"BIN", 144);
    std::ifstream file(CORVANE_BUILTIN_IMAGE_FILE, std::ios::binary);
    const std::vector<std::uint8_t> expected{std::istreambuf_iterator<char>(file),
                                             std::istreambuf_iterator<char>()};
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(resource.size(), expected.size());
    EXPECT_EQ(std::memcmp(resource.data(), expected.data(), expected.size()), 0);
    const auto builtin = image::BuiltinImage();
    EXPECT_EQ(builtin.data(), resource.data());
    EXPECT_EQ(builtin.size(), resource.size());
}

}  // namespace
}  // namespace corvane::app::win
