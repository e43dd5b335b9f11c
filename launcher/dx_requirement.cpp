#include "launcher/dx_requirement.h"

#include <string>

#include "base/param_text.h"
#include "format/ascii_case.h"

namespace qz {

std::int16_t SplitDirectXRequirement(char (&spare)[LaunchFieldWidth(LaunchField::Spare)]) {
  const std::size_t length = BoundedLength(spare, sizeof spare);
  if (!StartsWithAsciiCase(std::string_view(spare, length), "DxMin")) return 0;
  const std::vector<std::string_view> tokens = SplitInPlace(spare, length, "=& ", SplitRule::Runs);
  std::int16_t required = 0;
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (StartsWith(tokens[i], "DxMin")) {
      required = static_cast<std::int16_t>(static_cast<std::uint16_t>(LeadingDecimal(tokens[i + 1])));
    }
  }
  return required;
}

bool DirectXMajorVersion(std::string_view versionText, int& major) {
  std::string text(versionText);
  const std::vector<std::string_view> parts = SplitInPlace(&text[0], text.size(), ".", SplitRule::Runs);
  if (parts.size() < 2) return false;
  major = static_cast<int>(LeadingDecimal(parts[1]));
  return true;
}

}  // namespace qz
