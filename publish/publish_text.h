// Text forms of the publisher's binary values: hexadecimal digests and
// base64 keys and signatures.
#pragma once

#include <optional>
#include <string>

namespace qz::publish {

// Lowercase hexadecimal, two digits a byte.
std::string ToHex(const std::string& bytes);
// 64 hexadecimal digits (either case): a SHA-256 digest as text.
bool IsSha256Hex(const std::string& text);

// Standard alphabet, padded.
std::string ToBase64(const std::string& bytes);
// Strict: standard alphabet, padded to a multiple of four, nothing else (no
// blanks, no line breaks); anything else is not a key or signature of ours.
std::optional<std::string> FromBase64(const std::string& text);

}  // namespace qz::publish
