#include "base/command_line.h"

namespace qz {

std::string QuotedCommandLine(const std::string& exePath, const std::string& args) {
  std::string line = "\"" + exePath + "\" " + args;
  if (line.size() > kMaxCommandLine) return {};
  return line;
}

}  // namespace qz
