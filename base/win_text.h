// Conversions between the system ANSI code page (data: paths, URLs, block
// fields) and UTF-16 (what the user reads).
#pragma once

#include <string>

namespace qz {

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* text, int length = -1);
// UTF-8 text (names stored as such in archives), invalid sequences shown as U+FFFD.
std::wstring Utf8ToWide(const std::string& text);

}  // namespace qz
