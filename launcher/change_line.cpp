#include "launcher/change_line.h"

#include <cstring>

namespace qz {

namespace {

constexpr char kSwitch[] = "/change ";

// Exactly "K" + 4 digits + "_" + 5 digits, as section names are made.
bool IsSectionName(const std::string& text) {
  if (text.size() != 11 || text[0] != 'K' || text[5] != '_') return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (i != 5 && (text[i] < '0' || text[i] > '9')) return false;
  }
  return true;
}

}  // namespace

std::string ChangeLineText(bool avatar, const std::string& section) {
  return std::string(kSwitch) + (avatar ? "avatar " : "game ") + section;
}

std::optional<ChangeLine> ParseChangeLine(const char* commandLine) {
  if (!commandLine || std::strncmp(commandLine, kSwitch, sizeof kSwitch - 1) != 0) return std::nullopt;
  const std::string rest = commandLine + sizeof kSwitch - 1;
  ChangeLine line;
  std::string section;
  if (rest.rfind("avatar ", 0) == 0) {
    line.avatar = true;
    section = rest.substr(7);
  } else if (rest.rfind("game ", 0) == 0) {
    section = rest.substr(5);
  } else {
    return std::nullopt;
  }
  if (!IsSectionName(section)) return std::nullopt;
  line.section = section;
  return line;
}

}  // namespace qz
