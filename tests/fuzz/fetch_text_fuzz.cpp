// Fuzz target for the texts that decide what is fetched and trusted: address
// rules and the hash, signature and key texts. The first line is an address,
// the second where it redirected; the whole input is also read as each text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "format/codec.h"
#include "format/web_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = text.find('\n');
  const std::string first = text.substr(0, newline);
  const std::string second = newline == std::string::npos ? std::string() : text.substr(newline + 1);

  if (qz::IsFetchUrl(first.c_str()) && !qz::IsWebUrl(first.c_str())) std::abort();
  if (qz::IsFetchRedirect(first.c_str(), second.c_str()) &&
      (!qz::IsFetchUrl(first.c_str()) || !qz::IsFetchUrl(second.c_str()))) {
    std::abort();
  }

  // Strict base64: at most one spelling per byte string, so a decoded text is
  // never longer than three quarters of the input.
  if (const auto bytes = qz::DecodeBase64(text)) {
    if (bytes->size() * 4 > size * 3) std::abort();
  }
  if (const auto key = qz::ParsePublicKeyText(text)) {
    if ((*key)[0] != 0x04) std::abort();
  }
  if (qz::ParseSha256Hex(text) && size != 64) std::abort();
  qz::ParseSignatureText(text);
  return 0;
}
