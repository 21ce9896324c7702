#include "tools/device_options.h"

#include "tools/number_text.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "device/device_messages.h"
#include "update/timing.h"

namespace corvane::tools {

namespace {

using device::Fault;
using device::FaultAction;
using device::Millis;
using device::RequestKind;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == text.npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

std::optional<Millis> ParseDuration(std::string_view text) {
    if (text == "forever") {
        return device::kForever;
    }
    const auto ms = ParseNumber(text);
    return ms ? std::optional<Millis>(Millis{*ms}) : std::nullopt;
}

std::optional<std::uint8_t> ParseStatus(std::string_view text) {
    const auto n = ParseNumber(text);
    return n && *n <= 0x7F ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*n))
                           : std::nullopt;
}

using update::Timing;

struct KindName {
    const char* name;
    RequestKind kind;
    Millis Timing::*wait;  // how long the updater waits for the answer
};

constexpr KindName kKinds[] = {
    {"identity", RequestKind::kIdentity, &Timing::identityWait},
    {"opening", RequestKind::kOpening, &Timing::openingWait},
    {"version", RequestKind::kVersion, &Timing::versionWait},
    {"permission", RequestKind::kPermission, &Timing::permissionWait},
    {"prepare", RequestKind::kPrepare, &Timing::prepareWait},
    {"erase", RequestKind::kErase, &Timing::eraseWait},
    {"block", RequestKind::kBlockWrite, &Timing::blockWait},
    {"closing", RequestKind::kClosing, &Timing::closingWait},
};

const KindName* FindKind(std::string_view name) {
    for (const KindName& k : kKinds) {
        if (name == k.name) {
            return &k;
        }
    }
    return nullptr;
}

// A little data for read-back replies: the device echoes something recognisable.
constexpr std::array<std::uint8_t, 16> kReadBackData{
    0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

std::optional<midi::Bytes> ParseMessage(std::string_view text, std::uint8_t model) {
    if (text == "identity-request") {
        return device::IdentityRequest();
    }
    if (text == "garbage") {
        return device::Garbage();
    }
    if (text == "short") {
        return device::ShortMessage();
    }
    if (text == "read-back") {
        return device::ReadBackReply(model, kReadBackData);
    }
    if (text == "read-back-bad-crc") {
        return device::ReadBackReply(model, kReadBackData, true);
    }
    if (text.starts_with("notice-")) {
        const auto function = ParseHexBytes(text.substr(7));
        if (!function || function->size() != 1) {
            return std::nullopt;
        }
        return device::Notice(model, function->front());
    }
    return ParseHexBytes(text);
}

// WHICH: N (the nth request), NxT (the nth and the T - 1 after it) or P% (a
// share of all requests of the kind).
bool ParseWhich(std::string_view text, Fault& fault) {
    if (text.ends_with('%')) {
        const auto percent = ParseNumber(text.substr(0, text.size() - 1));
        if (!percent || *percent == 0 || *percent > 100) {
            return false;
        }
        fault.share = *percent / 100.0;
        return true;
    }
    const auto parts = Split(text, 'x');
    if (parts.size() > 2) {
        return false;
    }
    const auto nth = ParseNumber(parts[0]);
    const auto times = parts.size() == 2 ? ParseNumber(parts[1]) : std::optional<std::uint32_t>(1);
    constexpr std::uint32_t kMaxCount = 1u << 30;
    if (!nth || !times || *nth == 0 || *times == 0 || *nth > kMaxCount || *times > kMaxCount) {
        return false;
    }
    fault.nth = static_cast<int>(*nth);
    fault.times = static_cast<int>(*times);
    return true;
}

// ACTION:KIND:WHICH[:VALUE]; `model` is the device's, for the messages it sends.
std::optional<Fault> ParseFault(std::string_view text, std::uint8_t model, std::string& error) {
    const auto parts = Split(text, ':');
    if (parts.size() < 3 || parts.size() > 4) {
        error = "a fault is ACTION:KIND:WHICH[:VALUE]";
        return std::nullopt;
    }
    const std::string_view action = parts[0];
    const KindName* kind = FindKind(parts[1]);
    if (kind == nullptr) {
        error = "unknown request kind '" + std::string(parts[1]) + "'";
        return std::nullopt;
    }
    Fault fault;
    fault.request = kind->kind;
    if (!ParseWhich(parts[2], fault)) {
        error = "bad request count '" + std::string(parts[2]) + "' (N, NxT or P%)";
        return std::nullopt;
    }
    const std::optional<std::string_view> value =
        parts.size() == 4 ? std::optional(parts[3]) : std::nullopt;
    auto bad = [&](const char* what) {
        error = std::string("fault '") + std::string(action) + "' " + what;
        return std::nullopt;
    };

    if (action == "refuse") {
        fault.action = FaultAction::kRefuse;
        if (value) {
            const auto status = ParseStatus(*value);
            if (!status) {
                return bad("takes a status of 0 to 127");
            }
            fault.status = *status;
        }
    } else if (action == "drop" || action == "late") {
        if (value) {
            return bad("takes no value");
        }
        // Late as a real device is late: busy until it answers, so its answers
        // stay in order; half a second after the updater stopped waiting.
        fault.action = action == "drop" ? FaultAction::kDrop : FaultAction::kBusy;
        fault.duration = Timing{}.*(kind->wait) + Millis{500};
    } else if (action == "delay") {
        const auto ms = value ? ParseNumber(*value) : std::nullopt;
        if (!ms) {
            return bad("needs a delay in milliseconds");
        }
        fault.action = FaultAction::kDelay;
        fault.duration = Millis{*ms};
    } else if (action == "busy") {
        const auto ms = value ? ParseNumber(*value) : std::nullopt;
        if (!ms) {
            return bad("needs a time in milliseconds");
        }
        fault.action = FaultAction::kBusy;
        fault.duration = Millis{*ms};
    } else if (action == "twice") {
        if (value) {
            return bad("takes no value");
        }
        fault.action = FaultAction::kDuplicate;
    } else if (action == "corrupt") {
        fault.action = FaultAction::kCorrupt;
        fault.status = 0xFF;
        if (value) {
            const auto byte = ParseNumber(*value);
            if (!byte || *byte > 0xFF) {
                return bad("takes a byte of 0 to 255");
            }
            fault.status = static_cast<std::uint8_t>(*byte);
        }
    } else if (action == "vanish") {
        fault.action = FaultAction::kVanish;
        fault.duration = device::kForever;
        if (value) {
            const auto away = ParseDuration(*value);
            if (!away) {
                return bad("takes milliseconds or 'forever'");
            }
            fault.duration = *away;
        }
    } else if (action == "before" || action == "after") {
        if (!value) {
            return bad("needs messages");
        }
        fault.action = action == "before" ? FaultAction::kSendBefore : FaultAction::kSendAfter;
        for (std::string_view item : Split(*value, ',')) {
            auto message = ParseMessage(item, model);
            if (!message) {
                error = "unknown message '" + std::string(item) + "'";
                return std::nullopt;
            }
            fault.messages.push_back(std::move(*message));
        }
    } else {
        error = "unknown fault action '" + std::string(action) + "'";
        return std::nullopt;
    }
    return fault;
}

std::optional<std::uint8_t> ParsePrepare(std::string_view text) {
    if (text == "ready") {
        return device::kPrepareReady;
    }
    if (text == "restart") {
        return device::kPrepareRestart;
    }
    if (text == "low-battery") {
        return device::kPrepareLowBattery;
    }
    return ParseStatus(text);
}

std::optional<std::vector<std::uint32_t>> ParseTypes(std::string_view text) {
    std::vector<std::uint32_t> types;
    if (text == "none") {
        return types;
    }
    for (std::string_view item : Split(text, ',')) {
        const auto type = ParseNumber(item);
        if (!type) {
            return std::nullopt;
        }
        types.push_back(*type);
    }
    return types;
}

}  // namespace

OptionMatch DeviceOptionParser::Offer(std::span<const std::string> args, std::size_t& index) {
    const std::string& option = args[index];
    static constexpr const char* kWithValue[] = {
        "--name",  "--identity", "--version",    "--prepare",    "--restart-delay", "--permit",
        "--fault", "--seed",     "--flash-size", "--transcript", "--flash-dump"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), option) == std::end(kWithValue)) {
        return OptionMatch::kNotMine;
    }
    if (index + 1 >= args.size()) {
        m_error = option + " needs a value";
        return OptionMatch::kBad;
    }
    const std::string& value = args[++index];
    device::DeviceConfig& config = m_options.config;
    auto bad = [&](const std::string& why) {
        m_error = option + " " + value + ": " + why;
        return OptionMatch::kBad;
    };

    if (option == "--name") {
        if (value.empty()) {
            return bad("the name is empty");
        }
        config.portName = value;
    } else if (option == "--identity" || option == "--version") {
        const auto bytes = ParseFourBytes(value);
        if (!bytes) {
            return bad("expected 8 hex digits");
        }
        (option == "--identity" ? config.identity : config.version) = *bytes;
    } else if (option == "--prepare") {
        const auto status = ParsePrepare(value);
        if (!status) {
            return bad("expected ready, restart, low-battery or a status of 0 to 127");
        }
        config.prepareStatus = *status;
    } else if (option == "--restart-delay") {
        const auto away = ParseDuration(value);
        if (!away) {
            return bad("expected milliseconds or 'forever'");
        }
        config.restartDelay = *away;
    } else if (option == "--permit") {
        auto types = ParseTypes(value);
        if (!types) {
            return bad("expected update types separated by commas, or 'none'");
        }
        config.permittedTypes = std::move(*types);
    } else if (option == "--fault") {
        std::string why;
        if (!ParseFault(value, 0, why)) {
            return bad(why);
        }
        m_faults.push_back(value);
    } else if (option == "--seed") {
        const auto seed = ParseNumber(value);
        if (!seed) {
            return bad("expected a number");
        }
        config.seed = *seed;
    } else if (option == "--flash-size") {
        const auto size = ParseNumber(value);
        if (!size || *size == 0 || *size > device::kMaxFlashSize) {
            return bad("expected 1 to " + std::to_string(device::kMaxFlashSize) + " bytes");
        }
        config.flashSize = *size;
    } else if (option == "--transcript") {
        m_options.transcriptPath = value;
    } else {
        m_options.flashDumpPath = value;
    }
    return OptionMatch::kTaken;
}

DeviceOptions DeviceOptionParser::Finish() const {
    DeviceOptions options = m_options;
    const std::uint8_t model = options.config.ModelByte();
    std::string unused;
    for (const std::string& text : m_faults) {
        // Offer checked every fault; the model byte changes no verdict.
        options.config.faults.push_back(*ParseFault(text, model, unused));
    }
    return options;
}

const char* DeviceOptionsHelp() {
    return "Device options:\n"
           "  --name NAME            port name (default \"BRAX Lumen Series\")\n"
           "  --identity HHHHHHHH    family and member code of the identity reply"
           " (default 6E002800)\n"
           "  --version HHHHHHHH     device version (default 01000000)\n"
           "  --prepare ANSWER       ready, restart, low-battery or a status 0-127"
           " (default ready)\n"
           "  --restart-delay MS     how long the ports stay away on a restart (default 1000;"
           " 'forever')\n"
           "  --permit TYPES         update types the device accepts: N,N,... or 'none'"
           " (default all)\n"
           "  --flash-size BYTES     flash memory size (default 2097152)\n"
           "  --seed N               seed for faults given as a share (default 1)\n"
           "  --transcript FILE      every message received (\"> \") and sent (\"< \") in hex\n"
           "  --flash-dump FILE      the whole flash memory, written at exit\n"
           "  --fault ACTION:KIND:WHICH[:VALUE]   may be given several times\n"
           "      KIND    identity, opening, version, permission, prepare, erase, block,"
           " closing\n"
           "      WHICH   N (the nth request), NxT (the nth and T-1 more), P% (a share of"
           " all)\n"
           "      refuse[:STATUS]   answer with a result message (status 1 unless given)\n"
           "      drop              carry the request out but never answer\n"
           "      delay:MS          answer MS milliseconds late\n"
           "      late              answer after the updater stopped waiting, in order\n"
           "      busy:MS           take MS milliseconds over the answer, in order\n"
           "      twice             send the answer twice\n"
           "      corrupt[:BYTE]    send the answer with byte 5 replaced (default 255)\n"
           "      vanish[:MS]       lose the request and vanish (default forever)\n"
           "      before:MSGS, after:MSGS   send messages around the answer; MSGS are\n"
           "                        identity-request, garbage, short, notice-HH, read-back,\n"
           "                        read-back-bad-crc or hex bytes, separated by commas\n";
}

}  // namespace corvane::tools
