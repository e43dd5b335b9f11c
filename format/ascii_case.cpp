#include "format/ascii_case.h"

namespace qz {

std::string AsciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool StartsWithAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace qz
