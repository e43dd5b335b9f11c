// The text forms of what proves a download or a launch genuine: a file's
// SHA-256 as hex in the manifest, detached signatures and the publishers'
// public keys as base64, and the launch ticket's parts as base64url and
// percent-encoded values. Decoding is strict: anything but exactly the
// expected form is refused, never repaired.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

using Sha256Digest = std::array<std::uint8_t, 32>;
// ECDSA P-256 signature as r||s, each 32 bytes big-endian.
using P256Signature = std::array<std::uint8_t, 64>;
// Uncompressed P-256 point: 0x04, then x and y, each 32 bytes big-endian.
using P256PublicKey = std::array<std::uint8_t, 65>;

// Lowercase hexadecimal, two digits a byte.
std::string ToHex(std::string_view bytes);
std::string ToHex(const Sha256Digest& digest);

// The bytes of hexadecimal text: an even number of digits, either case.
std::optional<std::string> DecodeHex(std::string_view text);

// Exactly 64 hexadecimal digits, either case.
std::optional<Sha256Digest> ParseSha256Hex(std::string_view text);

// Standard alphabet, padded.
std::string ToBase64(std::string_view bytes);

// Standard base64 with its padding; the bits a last group leaves over must be
// zero, so each byte string has one spelling. Blanks and line ends are
// allowed only before and after the text (a file's or a registry value's),
// not inside it. The empty text is the empty string.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

// The URL-safe alphabet ("-" and "_" for "+" and "/") without padding, as a
// link carries it: no character of it is ever escaped by a browser or the
// shell. Decoding refuses padding, blanks, any other character, a length of
// 1 modulo 4 and left-over bits that are not zero, so each byte string has
// exactly one spelling.
std::string ToBase64Url(std::string_view bytes);
std::optional<std::string> DecodeBase64Url(std::string_view text);

// Percent-encoding of a value, as written: the unreserved characters
// A-Z a-z 0-9 - . _ ~ stand for themselves, every other byte is "%" and two
// uppercase hex digits.
std::string PercentEncode(std::string_view bytes);
// The bytes of a percent-encoded value as read: any byte may come escaped
// (hex digits in either case), and the visible ASCII characters but "%" may
// also stand for themselves (what common encoders leave as it is). A blank, a
// control character, a byte over 0x7E, or a "%" without two hex digits after
// it refuses the value.
std::optional<std::string> PercentDecode(std::string_view text);

// Blanks and line ends around a text, as files and registry values carry them.
std::string_view TrimBlanks(std::string_view text);

// A ".sig" file: the base64 of exactly 64 bytes.
std::optional<P256Signature> ParseSignatureText(std::string_view text);
// A .sig of one signature line per signing key (each as ParseSignatureText
// reads it; blank lines and CR LF ends are allowed). Nothing when there is no
// signature, more than kMaxSignatureLines, or any line that is no signature:
// a line that does not parse never passes as "the others will do".
constexpr std::size_t kMaxSignatureLines = 16;
std::optional<std::vector<P256Signature>> ParseSignatureLines(std::string_view text);

// One configured key: the base64 of exactly 65 bytes starting with 0x04,
// blanks around allowed.
std::optional<P256PublicKey> ParsePublicKeyText(std::string_view text);

}  // namespace qz
