#include "format/codec.h"

#include <algorithm>

namespace qz {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> DecodeExactly(std::string_view text) {
  const auto bytes = DecodeBase64(text);
  if (!bytes || bytes->size() != N) return std::nullopt;
  std::array<std::uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

}  // namespace

std::string ToHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
  }
  return out;
}

std::string ToHex(const Sha256Digest& digest) {
  return ToHex(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
  Sha256Digest out{};
  if (text.size() != out.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return out;
}

std::string ToBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(bytes.size() - i, 3);
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (n > 1) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  const std::string_view digits = text.substr(0, text.size() - padding);
  std::vector<std::uint8_t> out;
  out.reserve(digits.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : digits) {
    const int value = Base64Value(c);
    if (value < 0) return std::nullopt;  // junk, or '=' anywhere but the end
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
      bits &= (1u << count) - 1;
    }
  }
  // What the last group leaves over must be padding bits of zero.
  if (bits != 0) return std::nullopt;
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<P256Signature> ParseSignatureText(std::string_view text) { return DecodeExactly<64>(text); }

std::optional<P256PublicKey> ParsePublicKeyText(std::string_view text) {
  auto key = DecodeExactly<65>(text);
  if (!key || (*key)[0] != 0x04) return std::nullopt;
  return key;
}

}  // namespace qz
