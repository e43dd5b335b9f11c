// Key/value texts as pages and manifests write them: cut into tokens in place,
// numbers read from their leading digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/field_text.h"

namespace qz {

enum class SplitRule {
  EachSeparator,  // every separator ends a token, so empty tokens occur ("a==b")
  Runs,           // a run of separators is one gap; no empty tokens
};

// Overwrites every separator in text[0, length) with '\0' and returns the
// tokens in order. The caller's text is changed: that is how the launch
// record's fields are read (the game receives its Spare field split this
// way). Tokens are views bounded by `length`, so a field filled to its full
// width without a terminator is never read past.
std::vector<std::string_view> SplitInPlace(char* text, std::size_t length, const char* separators,
                                           SplitRule rule);

// The number a text starts with: optional blanks, an optional sign, decimal
// digits; 0 without digits. Wraps modulo 2^32 where a plain atoi would
// overflow; callers keep the bits their field holds (70000 as 16 bits is 4464).
std::uint32_t LeadingDecimal(std::string_view text);

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace qz
