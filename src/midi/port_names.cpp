#include "midi/port_names.h"

#include <charconv>
#include <map>

namespace corvane::midi {

namespace {

// Parses a whole string of decimal digits; nullopt for anything else.
std::optional<int> ParseNumber(std::string_view digits) {
    int value = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end || digits.front() == '-' ||
        digits.front() == '+') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<AlsaPortAddress> ParseAlsaPortName(std::string_view rtmidiName) {
    const auto space = rtmidiName.rfind(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view numbers = rtmidiName.substr(space + 1);
    const auto colon = numbers.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto client = ParseNumber(numbers.substr(0, colon));
    const auto port = ParseNumber(numbers.substr(colon + 1));
    if (!client || !port) {
        return std::nullopt;
    }
    return AlsaPortAddress{std::string(rtmidiName.substr(0, space)), *client, *port};
}

std::string AlsaClientNameFromText(std::string_view text) {
    return std::string(text.substr(0, text.find(':')));
}

std::string JackPortShortName(std::string_view fullName) {
    const auto colon = fullName.find(':');
    return std::string(colon == std::string_view::npos ? fullName : fullName.substr(colon + 1));
}

std::optional<std::string> RawMidiAddressOfPath(std::string_view path) {
    if (path.starts_with("hw:") && path.size() > 3) {
        return std::string(path);
    }
    constexpr std::string_view kPrefix = "/dev/snd/midiC";
    if (!path.starts_with(kPrefix)) {
        return std::nullopt;
    }
    const std::string_view numbers = path.substr(kPrefix.size());
    const auto d = numbers.find('D');
    if (d == std::string_view::npos) {
        return std::nullopt;
    }
    const auto card = ParseNumber(numbers.substr(0, d));
    const auto device = ParseNumber(numbers.substr(d + 1));
    if (!card || !device) {
        return std::nullopt;
    }
    return "hw:" + std::to_string(*card) + "," + std::to_string(*device);
}

std::vector<std::string> NumberDuplicates(std::vector<std::string> names) {
    std::map<std::string, int> seen;
    for (auto& name : names) {
        const int count = ++seen[name];
        if (count > 1) {
            name += " (" + std::to_string(count) + ")";
        }
    }
    return names;
}

std::vector<std::string> NthDeviceNames(const std::string& base, int n) {
    if (n <= 1) {
        return {base};
    }
    const std::string number = std::to_string(n);
    return {base + " (" + number + ")", number + "- " + base};
}

std::optional<std::string> BaseNameOf(std::string_view name,
                                      const std::vector<std::string>& bases) {
    for (const std::string& base : bases) {
        if (name == base) {
            return base;
        }
        // "base (n)" or "n- base", n from 2.
        std::optional<int> n;
        if (name.starts_with(base + " (") && name.ends_with(')')) {
            n = ParseNumber(name.substr(base.size() + 2, name.size() - base.size() - 3));
        } else if (name.ends_with("- " + base)) {
            n = ParseNumber(name.substr(0, name.size() - base.size() - 2));
        }
        if (n && *n >= 2) {
            return base;
        }
    }
    return std::nullopt;
}

}  // namespace corvane::midi
