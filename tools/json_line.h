#pragma once
// One JSON object on one line, for a program that reads the report line by
// line. Texts are escaped as JSON requires; bytes that are no UTF-8 become
// U+FFFD, so that every line parses whatever a port name holds.

#include <string>
#include <string_view>

namespace corvane::tools {

class JsonLine {
public:
    JsonLine& Text(std::string_view key, std::string_view value);
    JsonLine& Number(std::string_view key, long long value);
    // Seconds with three decimals.
    JsonLine& Seconds(std::string_view key, double value);
    JsonLine& Null(std::string_view key);
    // The object, without a line end.
    std::string Object() const { return "{" + m_members + "}"; }

private:
    void Key(std::string_view key);
    std::string m_members;
};

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace corvane::tools
