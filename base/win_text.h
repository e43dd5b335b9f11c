// Conversions between the system ANSI code page (data: paths, URLs, block
// fields) and UTF-16 (what the user reads), and between UTF-8 (registration
// rows, which may name any path) and UTF-16.
#pragma once

#include <string>

namespace qz {

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* text, int length = -1);
// UTF-8 text (registration rows, names stored as such in archives); invalid
// sequences are shown as U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace qz
