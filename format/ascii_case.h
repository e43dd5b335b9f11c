// Letter case of texts that are ASCII by their definition: schemes, host
// names, protocol and setting keys, registry key names, program names. Only
// A-Z and a-z are folded, whatever the C library's locale: every other byte
// (a double-byte character's included) compares as it is. File names on a
// player's PC follow Windows' own comparison, not this one.
#pragma once

#include <string>
#include <string_view>

namespace qz {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLowered(std::string_view text);
bool SameAsciiCase(std::string_view a, std::string_view b);
bool StartsWithAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace qz
