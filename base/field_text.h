// Fixed-width text fields (the launch record, the launcher's 260-byte paths):
// every write is cut to the field and every read is bounded by its width,
// because a field filled to its width carries no terminating zero.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace qz {

// Length of the text in a fixed field: up to its first zero, at most the width.
std::size_t BoundedLength(const char* field, std::size_t width);

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, BoundedLength(field, N));
}

// Whether a text of `length` bytes fits a field of `width` bytes with its
// terminating zero.
constexpr bool FitsField(std::size_t length, std::size_t width) { return length < width; }

// Copies text into a fixed field, cut to the field and always terminated.
void CopyCut(char* field, std::size_t width, const std::string& text);
template <std::size_t N>
void CopyCut(char (&field)[N], const std::string& text) {
  CopyCut(field, N, text);
}

// Copies at most `width` bytes of text into a field and zero-pads the rest. A
// longer text is cut at exactly the width (a double-byte character may be
// split) and then has no terminator, as the game expects.
void SetFieldBytes(char* field, std::size_t width, const char* text, std::size_t length);

template <std::size_t N>
void SetField(char (&field)[N], const std::string& text) {
  SetFieldBytes(field, N, text.data(), text.size());
}

}  // namespace qz
