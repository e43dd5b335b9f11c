#include "launcher/folders.h"

#include <cstring>

namespace qz {

std::string WithTrailingBackslash(const std::string& dir) {
  if (dir.empty() || dir.back() == '\\') return dir;
  return dir + "\\";
}

std::string WorkDirBelow(const std::string& tempDir) {
  return WithTrailingBackslash(tempDir.empty() ? std::string("c:\\") : tempDir) + "~qztmp\\";
}

void CopyCut(char* field, std::size_t width, const std::string& text) {
  if (width == 0) return;
  const std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace qz
