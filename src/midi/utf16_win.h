#pragma once
// Text between the updater's UTF-8 strings and the Windows API's UTF-16 and
// code-page strings. Invalid input becomes an empty string, never a crash.

#include <string>
#include <string_view>

namespace corvane::midi {

std::string Utf8FromUtf16(std::wstring_view text);
std::wstring Utf16FromUtf8(std::string_view text);
// Text in a Windows code page (932 for the Japanese system's names) as UTF-8.
std::string Utf8FromCodePage(unsigned codePage, std::string_view text);

}  // namespace corvane::midi
