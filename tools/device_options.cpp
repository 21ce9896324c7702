#include "tools/device_options.h"

#include "tools/number_text.h"

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

// A fault's text apart from its kind and count, which are already read.
struct FaultText {
    std::string_view action;
    std::optional<std::string_view> value;
    const KindName& kind;
    std::uint8_t model;  // the device's, for the messages it sends
};

std::string BadFault(const FaultText& text, const char* what) {
    return std::string("fault '") + std::string(text.action) + "' " + what;
}

std::string ParseRefuse(const FaultText& text, Fault& fault) {
    fault.action = FaultAction::kRefuse;
    if (text.value) {
        const auto status = ParseStatus(*text.value);
        if (!status) {
            return BadFault(text, "takes a status of 0 to 127");
        }
        fault.status = *status;
    }
    return {};
}

// drop and late: the answer misses the updater's wait.
std::string ParseMissed(const FaultText& text, Fault& fault) {
    if (text.value) {
        return BadFault(text, "takes no value");
    }
    // Late as a real device is late: busy until it answers, so its answers
    // stay in order; half a second after the updater stopped waiting.
    fault.action = text.action == "drop" ? FaultAction::kDrop : FaultAction::kBusy;
    fault.duration = Timing{}.*(text.kind.wait) + Millis{500};
    return {};
}

// delay and busy: a time in milliseconds.
std::string ParseSlow(const FaultText& text, Fault& fault) {
    const bool delay = text.action == "delay";
    const auto ms = text.value ? ParseNumber(*text.value) : std::nullopt;
    if (!ms) {
        return BadFault(text,
                        delay ? "needs a delay in milliseconds" : "needs a time in milliseconds");
    }
    fault.action = delay ? FaultAction::kDelay : FaultAction::kBusy;
    fault.duration = Millis{*ms};
    return {};
}

std::string ParseTwice(const FaultText& text, Fault& fault) {
    if (text.value) {
        return BadFault(text, "takes no value");
    }
    fault.action = FaultAction::kDuplicate;
    return {};
}

std::string ParseCorrupt(const FaultText& text, Fault& fault) {
    fault.action = FaultAction::kCorrupt;
    fault.status = 0xFF;
    if (text.value) {
        const auto byte = ParseNumber(*text.value);
        if (!byte || *byte > 0xFF) {
            return BadFault(text, "takes a byte of 0 to 255");
        }
        fault.status = static_cast<std::uint8_t>(*byte);
    }
    return {};
}

std::string ParseVanish(const FaultText& text, Fault& fault) {
    fault.action = FaultAction::kVanish;
    fault.duration = device::kForever;
    if (text.value) {
        const auto away = ParseDuration(*text.value);
        if (!away) {
            return BadFault(text, "takes milliseconds or 'forever'");
        }
        fault.duration = *away;
    }
    return {};
}

// before and after: messages sent around the answer.
std::string ParseAround(const FaultText& text, Fault& fault) {
    if (!text.value) {
        return BadFault(text, "needs messages");
    }
    fault.action = text.action == "before" ? FaultAction::kSendBefore : FaultAction::kSendAfter;
    for (std::string_view item : Split(*text.value, ',')) {
        auto message = ParseMessage(item, text.model);
        if (!message) {
            return "unknown message '" + std::string(item) + "'";
        }
        fault.messages.push_back(std::move(*message));
    }
    return {};
}

struct FaultActionName {
    const char* name;
    // Fills in the action and its value; why the text is bad, empty when it is not.
    std::string (*parse)(const FaultText& text, Fault& fault);
};

constexpr FaultActionName kFaultActions[] = {
    {"refuse", &ParseRefuse},   {"drop", &ParseMissed},   {"late", &ParseMissed},
    {"delay", &ParseSlow},      {"busy", &ParseSlow},     {"twice", &ParseTwice},
    {"corrupt", &ParseCorrupt}, {"vanish", &ParseVanish}, {"before", &ParseAround},
    {"after", &ParseAround},
};

const FaultActionName* FindFaultAction(std::string_view name) {
    for (const FaultActionName& a : kFaultActions) {
        if (name == a.name) {
            return &a;
        }
    }
    return nullptr;
}

// ACTION:KIND:WHICH[:VALUE]; `model` is the device's, for the messages it sends.
std::optional<Fault> ParseFault(std::string_view text, std::uint8_t model, std::string& error) {
    const auto parts = Split(text, ':');
    if (parts.size() < 3 || parts.size() > 4) {
        error = "a fault is ACTION:KIND:WHICH[:VALUE]";
        return std::nullopt;
    }
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
    const FaultActionName* action = FindFaultAction(parts[0]);
    if (action == nullptr) {
        error = "unknown fault action '" + std::string(parts[0]) + "'";
        return std::nullopt;
    }
    const FaultText faultText{parts[0], parts.size() == 4 ? std::optional(parts[3]) : std::nullopt,
                              *kind, model};
    std::string why = action->parse(faultText, fault);
    if (!why.empty()) {
        error = std::move(why);
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

using FaultTexts = std::vector<std::string>;

// Each takes its option's value into the options (the faults as text, for
// Finish); why the value is bad, empty when it is not.
std::string TakeName(const std::string& value, DeviceOptions& options, FaultTexts&) {
    if (value.empty()) {
        return "the name is empty";
    }
    options.config.portName = value;
    return {};
}

std::string TakeFourBytes(const std::string& value, std::array<std::uint8_t, 4>& into) {
    const auto bytes = ParseFourBytes(value);
    if (!bytes) {
        return "expected 8 hex digits";
    }
    into = *bytes;
    return {};
}

std::string TakeIdentity(const std::string& value, DeviceOptions& options, FaultTexts&) {
    return TakeFourBytes(value, options.config.identity);
}

std::string TakeVersion(const std::string& value, DeviceOptions& options, FaultTexts&) {
    return TakeFourBytes(value, options.config.version);
}

std::string TakePrepare(const std::string& value, DeviceOptions& options, FaultTexts&) {
    const auto status = ParsePrepare(value);
    if (!status) {
        return "expected ready, restart, low-battery or a status of 0 to 127";
    }
    options.config.prepareStatus = *status;
    return {};
}

std::string TakeRestartDelay(const std::string& value, DeviceOptions& options, FaultTexts&) {
    const auto away = ParseDuration(value);
    if (!away) {
        return "expected milliseconds or 'forever'";
    }
    options.config.restartDelay = *away;
    return {};
}

std::string TakePermit(const std::string& value, DeviceOptions& options, FaultTexts&) {
    auto types = ParseTypes(value);
    if (!types) {
        return "expected update types separated by commas, or 'none'";
    }
    options.config.permittedTypes = std::move(*types);
    return {};
}

std::string TakeFault(const std::string& value, DeviceOptions&, FaultTexts& faults) {
    std::string why;
    if (!ParseFault(value, 0, why)) {
        return why;
    }
    faults.push_back(value);
    return {};
}

std::string TakeSeed(const std::string& value, DeviceOptions& options, FaultTexts&) {
    const auto seed = ParseNumber(value);
    if (!seed) {
        return "expected a number";
    }
    options.config.seed = *seed;
    return {};
}

std::string TakeFlashSize(const std::string& value, DeviceOptions& options, FaultTexts&) {
    const auto size = ParseNumber(value);
    if (!size || *size == 0 || *size > device::kMaxFlashSize) {
        return std::string("expected 1 to ") + std::to_string(device::kMaxFlashSize) + " bytes";
    }
    options.config.flashSize = *size;
    return {};
}

std::string TakeTranscript(const std::string& value, DeviceOptions& options, FaultTexts&) {
    options.transcriptPath = value;
    return {};
}

std::string TakeFlashDump(const std::string& value, DeviceOptions& options, FaultTexts&) {
    options.flashDumpPath = value;
    return {};
}

// The device options, one row each; every one takes a value.
struct DeviceOption {
    const char* name;
    std::string (*take)(const std::string& value, DeviceOptions& options, FaultTexts& faults);
};

constexpr DeviceOption kDeviceOptions[] = {
    {"--name", &TakeName},
    {"--identity", &TakeIdentity},
    {"--version", &TakeVersion},
    {"--prepare", &TakePrepare},
    {"--restart-delay", &TakeRestartDelay},
    {"--permit", &TakePermit},
    {"--fault", &TakeFault},
    {"--seed", &TakeSeed},
    {"--flash-size", &TakeFlashSize},
    {"--transcript", &TakeTranscript},
    {"--flash-dump", &TakeFlashDump},
};

const DeviceOption* FindDeviceOption(const std::string& name) {
    for (const DeviceOption& option : kDeviceOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

OptionMatch DeviceOptionParser::Offer(std::span<const std::string> args, std::size_t& index) {
    const std::string& option = args[index];
    const DeviceOption* row = FindDeviceOption(option);
    if (row == nullptr) {
        return OptionMatch::kNotMine;
    }
    if (index + 1 >= args.size()) {
        m_error = option + " needs a value";
        return OptionMatch::kBad;
    }
    const std::string& value = args[++index];
    const std::string why = row->take(value, m_options, m_faults);
    if (!why.empty()) {
        m_error = option + " " + value + ": " + why;
        return OptionMatch::kBad;
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
