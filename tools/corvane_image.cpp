// corvane-image: inspects, verifies and builds firmware containers with the
// same parser the updater uses.
//   corvane-image info FILE [--device-version HHHHHHHH]
//   corvane-image verify FILE [--device-version HHHHHHHH]
//   corvane-image build --out FILE [--update-type N] [--notice TEXT]
//                       --section NAME=PAYLOAD_FILE@FLASH_ADDRESS[:CHECKED_LENGTH] ...
// Exit status: 0 success (image accepted), 1 refused or failed, 2 usage error.

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/container_writer.h"
#include "image/firmware_image.h"
#include "image/image_bytes.h"
#include "image/image_check.h"
#include "image/image_layout.h"
#include "program/exit_codes.h"
#include "tools/number_text.h"
#include "version/program_version.h"

namespace {

using namespace corvane::image;
using corvane::tools::ParseFourBytes;
using corvane::tools::ParseNumber;

using corvane::kExitFailure;
using corvane::kExitSuccess;
using corvane::kExitUsage;

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: corvane-image info FILE [--device-version HHHHHHHH]\n"
                 "       corvane-image verify FILE [--device-version HHHHHHHH]\n"
                 "       corvane-image build --out FILE [--update-type N] [--notice TEXT]\n"
                 "                     --section NAME=PAYLOAD_FILE@FLASH_ADDRESS[:CHECKED_LENGTH]"
                 " ...\n"
                 "       corvane-image --help | --version\n"
                 "NAME is INFO, BOOT, PRST, FILE, MAIN or a slot number 0-7.\n");
}

int Usage() {
    PrintUsage(stderr);
    return kExitUsage;
}

// Reads a whole file of at most kImageBufferSize bytes; on failure prints why.
std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        std::fprintf(stderr, "%s: cannot open: %s\n", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 65536> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        if (bytes.size() > kImageBufferSize) {
            std::fprintf(stderr, "%s: larger than the %u-byte image buffer\n", path.c_str(),
                         static_cast<unsigned>(kImageBufferSize));
            return std::nullopt;
        }
    }
    if (std::ferror(file.get()) != 0) {
        std::fprintf(stderr, "%s: read error\n", path.c_str());
        return std::nullopt;
    }
    return bytes;
}

std::string Printable(const std::uint8_t* bytes, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '"' && bytes[i] != '\\') {
            text += static_cast<char>(bytes[i]);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", bytes[i]);
            text += escaped;
        }
    }
    return text;
}

struct ImageOptions {
    std::string path;
    std::array<std::uint8_t, 4> deviceVersion{};
};

std::optional<ImageOptions> ParseImageOptions(int argc, char** argv) {
    ImageOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--device-version" && i + 1 < argc) {
            const auto version = ParseFourBytes(argv[++i]);
            if (!version) {
                std::fprintf(stderr, "--device-version takes 8 hex digits\n");
                return std::nullopt;
            }
            options.deviceVersion = *version;
        } else if (options.path.empty() && !arg.starts_with("--")) {
            options.path = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.path.empty()) {
        return std::nullopt;
    }
    return options;
}

std::string SlotVerdict(CFirmwareImage& parser, const std::vector<std::uint8_t>& image, int slot,
                        const SectionRecord& record, SectionCheck& check) {
    check = parser.CheckSlot(image.data(), image.size(), slot, record);
    if (record.selected == 0) {
        return "skipped: boot trailer equals device version";
    }
    return check.fault == ImageFault::kNone ? "ok" : FaultName(check.fault);
}

// Appended rather than "\"" + text: GCC 12 at -O3 takes the inlined insert
// at the front of a string for an overlapping copy (-Wrestrict).
std::string Quoted(const std::uint8_t* bytes, std::size_t n) {
    std::string text = "\"";
    text += Printable(bytes, n);
    text += '"';
    return text;
}

void PrintSlots(const std::vector<std::uint8_t>& image, const ParseReport& report,
                CFirmwareImage& parser, const std::array<std::uint8_t, 4>& deviceVersion) {
    const std::uint8_t mask = image.size() > kMaskOffset ? image[kMaskOffset] : 0;
    std::printf("\n%-4s %-5s %-4s %-18s %-8s %10s %10s %10s %10s %10s %10s %10s  %s\n", "slot",
                "name", "mask", "entry", "selected", "offset", "length", "flash", "flash size",
                "checked", "stored", "computed", "verdict");
    const ImageCheck check = MakeImageCheck(deviceVersion);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const TableEntry entry = ReadTableEntry(image.data(), image.size(), slot);
        const bool maskBit = slot < 8 && (mask & (1u << slot)) != 0;
        const bool named = NamesEqual(entry.name.data(), check.name[slot].data(), kNameLength);
        const SectionRecord& parsed = parser.GetSections()[slot];
        std::printf(
            "%-4d %-5s %-4s %-18s %-8s 0x%08X 0x%08X 0x%08X 0x%08X", slot,
            kSlotNames[slot][0] != '\0' ? kSlotNames[slot] : "-", maskBit ? "set" : "-",
            Quoted(entry.name.data(), kNameLength).c_str(), parsed.selected != 0 ? "yes" : "no",
            static_cast<unsigned>(entry.imageOffset), static_cast<unsigned>(entry.imageLength),
            static_cast<unsigned>(entry.flashAddress), static_cast<unsigned>(entry.flashSize));
        if (!maskBit || !named || report.fault == ImageFault::kBanner ||
            report.fault == ImageFault::kImageTooLarge) {
            std::printf(" %10s %10s %10s  %s\n", "-", "-", "-", "absent");
            continue;
        }
        // The table values as the parser saw them before it adjusted them.
        SectionRecord record;
        record.imageOffset = entry.imageOffset;
        record.imageLength = entry.imageLength;
        record.flashAddress = entry.flashAddress;
        record.flashSize = entry.flashSize;
        record.selected = parsed.selected;
        std::memcpy(record.magic.data(), check.magic[slot].data(), kMagicLength);
        SectionCheck section;
        const std::string verdict = SlotVerdict(parser, image, slot, record, section);
        std::printf(" 0x%08X 0x%08X 0x%08X  %s\n", static_cast<unsigned>(section.checkedLength),
                    static_cast<unsigned>(section.storedChecksum),
                    static_cast<unsigned>(section.computedChecksum), verdict.c_str());
    }
}

// A file checked as the updater would check it.
struct CheckedImage {
    ImageOptions options;
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<CFirmwareImage> parser = std::make_unique<CFirmwareImage>();
    ParseReport report;
};

// Reads and checks the file the arguments name, then runs `command` on it;
// the exit code of a usage error or an unreadable file otherwise.
int OnCheckedImage(int argc, char** argv, int (*command)(const CheckedImage&)) {
    auto options = ParseImageOptions(argc, argv);
    if (!options) {
        return Usage();
    }
    auto bytes = ReadFile(options->path);
    if (!bytes) {
        return kExitFailure;
    }
    CheckedImage checked;
    checked.options = std::move(*options);
    checked.bytes = std::move(*bytes);
    checked.report = checked.parser->Diagnose(checked.bytes.data(), checked.bytes.size(),
                                              MakeImageCheck(checked.options.deviceVersion));
    return command(checked);
}

int Info(const CheckedImage& checked) {
    const ImageOptions& options = checked.options;
    const std::vector<std::uint8_t>& image = checked.bytes;
    const ParseReport& report = checked.report;
    std::array<std::uint8_t, kImageHeaderSize> header{};
    CopyImageBytes(header.data(), image.data(), image.size(), 0, header.size());
    std::printf("file            %s (%zu bytes)\n", options.path.c_str(), image.size());
    std::printf("banner          \"%s\"\n", Printable(header.data(), kBannerLength).c_str());
    std::printf("notice          \"%s\"\n",
                Printable(header.data() + kNoticeOffset, kNoticeLength).c_str());
    std::printf("section mask    0x%02X\n", header[kMaskOffset]);
    std::printf("update type     %u (0x%02X)\n", header[kUpdateTypeOffset],
                header[kUpdateTypeOffset]);
    std::printf("device version  %02X%02X%02X%02X\n", options.deviceVersion[0],
                options.deviceVersion[1], options.deviceVersion[2], options.deviceVersion[3]);

    PrintSlots(image, report, *checked.parser, options.deviceVersion);
    if (report.fault != ImageFault::kNone) {
        std::printf("\nverdict: refused: %s%s\n", image.empty() ? "empty file; " : "",
                    Describe(report).c_str());
        return kExitFailure;
    }
    std::printf("\nverdict: accepted\n");
    return kExitSuccess;
}

int Verify(const CheckedImage& checked) {
    const ImageOptions& options = checked.options;
    const std::vector<std::uint8_t>& image = checked.bytes;
    const ParseReport& report = checked.report;
    if (report.fault != ImageFault::kNone) {
        std::fprintf(stderr, "%s: refused: %s%s\n", options.path.c_str(),
                     image.empty() ? "empty file; " : "", Describe(report).c_str());
        return kExitFailure;
    }
    std::printf("%s: accepted\n", options.path.c_str());
    return kExitSuccess;
}

// NAME=PAYLOAD_FILE@FLASH_ADDRESS[:CHECKED_LENGTH]; the payload is read here.
std::optional<SectionSource> ParseSection(std::string_view text, bool& readFailed) {
    const std::size_t equals = text.find('=');
    const std::size_t at = text.rfind('@');
    if (equals == text.npos || at == text.npos || at < equals) {
        return std::nullopt;
    }
    SectionSource source;
    source.slot = SlotFromName(std::string(text.substr(0, equals)).c_str());
    if (source.slot < 0) {
        return std::nullopt;
    }
    std::string_view numbers = text.substr(at + 1);
    const std::size_t colon = numbers.find(':');
    const auto address = ParseNumber(numbers.substr(0, colon));
    if (!address) {
        return std::nullopt;
    }
    source.flashAddress = *address;
    if (colon != numbers.npos) {
        source.checkedLength = ParseNumber(numbers.substr(colon + 1));
        if (!source.checkedLength) {
            return std::nullopt;
        }
    }
    auto payload = ReadFile(std::string(text.substr(equals + 1, at - equals - 1)));
    if (!payload) {
        readFailed = true;
        return std::nullopt;
    }
    source.payload = std::move(*payload);
    return source;
}

int Build(int argc, char** argv) {
    std::string out;
    ContainerLayout layout;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string_view value = argv[++i];
        if (arg == "--out") {
            out = value;
        } else if (arg == "--notice") {
            layout.notice = value;
        } else if (arg == "--update-type") {
            const auto type = ParseNumber(value);
            if (!type || *type > 0xFF) {
                std::fprintf(stderr, "--update-type takes a number 0-255\n");
                return kExitUsage;
            }
            layout.updateType = static_cast<std::uint8_t>(*type);
        } else if (arg == "--section") {
            bool readFailed = false;
            auto source = ParseSection(value, readFailed);
            if (readFailed) {
                return kExitFailure;
            }
            if (!source) {
                std::fprintf(stderr, "bad --section '%.*s'\n", static_cast<int>(value.size()),
                             value.data());
                return Usage();
            }
            layout.sections.push_back(std::move(*source));
        } else {
            return Usage();
        }
    }
    if (out.empty() || layout.sections.empty()) {
        return Usage();
    }
    const ContainerResult result = WriteContainer(layout);
    if (!result.ok()) {
        std::fprintf(stderr, "corvane-image: %s\n", result.error.c_str());
        return kExitFailure;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(out.c_str(), "wb"),
                                                         &std::fclose);
    if (!file ||
        std::fwrite(result.bytes.data(), 1, result.bytes.size(), file.get()) !=
            result.bytes.size() ||
        std::fclose(file.release()) != 0) {
        std::fprintf(stderr, "%s: cannot write\n", out.c_str());
        return kExitFailure;
    }
    std::printf("%s: %zu bytes\n", out.c_str(), result.bytes.size());
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    if (corvane::AsksForVersion(argc, argv)) {
        corvane::PrintVersion("corvane-image");
        return kExitSuccess;
    }
    if (argc < 2) {
        return Usage();
    }
    const std::string_view command = argv[1];
    if (command == "--help") {
        PrintUsage(stdout);
        return kExitSuccess;
    }
    if (command == "info") {
        return OnCheckedImage(argc, argv, Info);
    }
    if (command == "verify") {
        return OnCheckedImage(argc, argv, Verify);
    }
    if (command == "build") {
        return Build(argc, argv);
    }
    return Usage();
}
