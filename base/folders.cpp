#include "base/folders.h"

#include <cstring>

namespace qz {

std::string WithTrailingBackslash(const std::string& dir) {
  if (dir.empty() || dir.back() == '\\') return dir;
  return dir + "\\";
}

std::string WorkDirBelow(const std::string& tempDir) {
  if (tempDir.empty()) return std::string();
  return WithTrailingBackslash(tempDir) + "~qztmp\\";
}

}  // namespace qz
