// Text forms of the publisher's binary values. The encodings are the
// launcher's (format/codec.h); these take and give the tool's byte strings.
#pragma once

#include <optional>
#include <string>

#include "format/codec.h"

namespace qz::publish {

// 64 hexadecimal digits (either case): a SHA-256 digest as text.
bool IsSha256Hex(const std::string& text);

// Exactly the base64 of some bytes, nothing around it, not empty: what a key
// or signature file holds once its line end is cut.
std::optional<std::string> FromBase64(const std::string& text);

}  // namespace qz::publish
