#include "base/field_text.h"

namespace qz {

std::size_t BoundedLength(const char* field, std::size_t width) {
  const void* end = std::memchr(field, '\0', width);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : width;
}

void CopyCut(char* field, std::size_t width, const std::string& text) {
  if (width == 0) return;
  const std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

void SetFieldBytes(char* field, std::size_t width, const char* text, std::size_t length) {
  const std::size_t n = length < width ? length : width;
  if (n) std::memcpy(field, text, n);
  if (n < width) std::memset(field + n, 0, width - n);
}

}  // namespace qz
