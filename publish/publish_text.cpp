#include "publish/publish_text.h"

namespace qz::publish {

bool IsSha256Hex(const std::string& text) { return ParseSha256Hex(text).has_value(); }

std::optional<std::string> FromBase64(const std::string& text) {
  if (text.empty() || TrimBlanks(text).size() != text.size()) return std::nullopt;
  const auto bytes = DecodeBase64(text);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

}  // namespace qz::publish
