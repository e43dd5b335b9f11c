#include "format/codec.h"

#include <algorithm>

namespace qz {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

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

int Base64UrlValue(char c) {
  if (c == '-') return 62;
  if (c == '_') return 63;
  if (c == '+' || c == '/') return -1;
  return Base64Value(c);
}

// Each group of three bytes as four digits of the alphabet; a last group of
// one or two bytes as two or three digits, padded with "=" when asked.
std::string Encode64(std::string_view bytes, const char* alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(bytes.size() - i, 3);
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (n > 1) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    if (n > 1 || pad) out += n > 1 ? alphabet[(v >> 6) & 63] : '=';
    if (n > 2 || pad) out += n > 2 ? alphabet[v & 63] : '=';
  }
  return out;
}

// The bytes of base64 digits without padding. A character outside the
// alphabet refuses them, and so do left-over bits of the last group that are
// not zero (another spelling of the same bytes).
std::optional<std::string> Decode64Digits(std::string_view digits, int (*valueOf)(char)) {
  std::string out;
  out.reserve(digits.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : digits) {
    const int value = valueOf(c);
    if (value < 0) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>(bits >> count));
      bits &= (1u << count) - 1;
    }
  }
  if (bits != 0) return std::nullopt;
  return out;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
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

std::optional<std::string> DecodeHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out(text.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<char>(high << 4 | low);
  }
  return out;
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
  Sha256Digest out{};
  const std::optional<std::string> bytes = text.size() == out.size() * 2 ? DecodeHex(text) : std::nullopt;
  if (!bytes) return std::nullopt;
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

std::string ToBase64(std::string_view bytes) { return Encode64(bytes, kAlphabet, true); }

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  // A "=" anywhere but the end is no digit, so it refuses the text.
  const std::optional<std::string> bytes = Decode64Digits(text.substr(0, text.size() - padding), Base64Value);
  if (!bytes) return std::nullopt;
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

std::string ToBase64Url(std::string_view bytes) { return Encode64(bytes, kUrlAlphabet, false); }

std::optional<std::string> DecodeBase64Url(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;  // no byte string has that length
  return Decode64Digits(text, Base64UrlValue);
}

std::string PercentEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kUpperHexDigits[c >> 4];
      out += kUpperHexDigits[c & 15];
    }
  }
  return out;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c > 0x20 && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
      continue;
    }
    if (c != '%' || text.size() - i < 3) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<P256Signature> ParseSignatureText(std::string_view text) { return DecodeExactly<64>(text); }

std::optional<std::vector<P256Signature>> ParseSignatureLines(std::string_view text) {
  std::vector<P256Signature> signatures;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = TrimBlanks(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) continue;
    const std::optional<P256Signature> signature = ParseSignatureText(line);
    if (!signature || signatures.size() == kMaxSignatureLines) return std::nullopt;
    signatures.push_back(*signature);
  }
  if (signatures.empty()) return std::nullopt;
  return signatures;
}

std::optional<P256PublicKey> ParsePublicKeyText(std::string_view text) {
  auto key = DecodeExactly<65>(text);
  if (!key || (*key)[0] != 0x04) return std::nullopt;
  return key;
}

}  // namespace qz
