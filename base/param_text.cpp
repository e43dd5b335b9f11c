#include "base/param_text.h"

#include <cstring>

namespace qz {

std::vector<std::string_view> SplitInPlace(char* text, std::size_t length, const char* separators,
                                           SplitRule rule) {
  std::vector<std::string_view> tokens;
  if (length == 0) return tokens;  // an empty text holds no token, not one empty token
  std::size_t start = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    const bool atEnd = i == length;
    if (!atEnd && (text[i] == '\0' || std::strchr(separators, text[i]) == nullptr)) continue;
    if (rule == SplitRule::EachSeparator || i > start) tokens.emplace_back(text + start, i - start);
    if (!atEnd) text[i] = '\0';
    start = i + 1;
  }
  return tokens;
}

std::uint32_t LeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) ++i;
  bool negative = false;
  if (at(i) == '+' || at(i) == '-') negative = text[i++] == '-';
  std::uint32_t value = 0;
  for (; at(i) >= '0' && at(i) <= '9'; ++i) value = value * 10u + static_cast<std::uint32_t>(at(i) - '0');
  return negative ? 0u - value : value;
}

}  // namespace qz
