#include "tools/json_line.h"

#include <cstdio>

namespace corvane::tools {

namespace {

// The length of the UTF-8 sequence at `at`; 0 when it is not well formed.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    out.push_back('"');
    return out;
}

void JsonLine::Key(std::string_view key) {
    if (!m_members.empty()) {
        m_members.push_back(',');
    }
    m_members += JsonString(key);
    m_members.push_back(':');
}

JsonLine& JsonLine::Text(std::string_view key, std::string_view value) {
    Key(key);
    m_members += JsonString(value);
    return *this;
}

JsonLine& JsonLine::Number(std::string_view key, long long value) {
    Key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Seconds(std::string_view key, double value) {
    Key(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    m_members += text;
    return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
    Key(key);
    m_members += "null";
    return *this;
}

}  // namespace corvane::tools
