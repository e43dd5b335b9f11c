// Strict decoding of file hashes, manifest signatures and public keys.
#include <gtest/gtest.h>

#include <string>

#include "format/codec.h"

namespace qz {
namespace {

std::string Hex(const Sha256Digest& d) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (auto b : d) s += {digits[b >> 4], digits[b & 15]};
  return s;
}

TEST(SignatureText, Sha256HexIsExactly64Digits) {
  const std::string good = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
  const auto digest = ParseSha256Hex(good);
  ASSERT_TRUE(digest);
  EXPECT_EQ(Hex(*digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_TRUE(ParseSha256Hex(std::string(64, 'f')));
  for (const std::string& bad : {good.substr(1), good + "0", good.substr(0, 63) + "g", good.substr(0, 63) + " ",
                                 " " + good.substr(1), std::string("0x") + good.substr(2), std::string()}) {
    EXPECT_FALSE(ParseSha256Hex(bad)) << "'" << bad << "'";
  }
}

TEST(SignatureText, Base64IsStrict) {
  struct Case {
    const char* text;
    bool ok;
    std::string bytes;
  } cases[] = {
      {"", true, ""},
      {"Zg==", true, "f"},
      {"Zm8=", true, "fo"},
      {"Zm9v", true, "foo"},
      {"+/+/", true, "\xfb\xff\xbf"},
      {"Zm9v\n", true, "foo"},       // a .sig file's line end
      {" \t\r\nZm9v\r\n ", true, "foo"},
      {"Zm9", false, ""},            // no padding
      {"Zg=", false, ""},
      {"Zg===", false, ""},
      {"Z===", false, ""},
      {"====", false, ""},
      {"Zh==", false, ""},           // left-over bits not zero: a second spelling of "f"
      {"Zm9=", false, ""},
      {"Zg==Zm9v", false, ""},       // padding inside
      {"Zm 9v", false, ""},          // blank inside
      {"Zm9v\nZm9v", false, ""},     // wrapped lines
      {"Zm9-", false, ""},           // the URL alphabet is another format
      {"Zm9_", false, ""},
      {"Zm9v\x01", false, ""},
  };
  for (const Case& c : cases) {
    const auto bytes = DecodeBase64(c.text);
    ASSERT_EQ(bytes.has_value(), c.ok) << "'" << c.text << "'";
    if (c.ok) EXPECT_EQ(std::string(bytes->begin(), bytes->end()), c.bytes) << c.text;
  }
}

TEST(SignatureText, SignaturesAndKeysHaveTheirExactSize) {
  const std::string sig64 = std::string(84, 'A') + "AQ==";  // 63 zero bytes, then 0x01
  const auto sig = ParseSignatureText(sig64 + "\n");
  ASSERT_TRUE(sig);
  EXPECT_EQ((*sig)[63], 1);
  EXPECT_FALSE(ParseSignatureText(std::string(84, 'A')));        // 63 bytes
  EXPECT_FALSE(ParseSignatureText(std::string(88, 'A')));        // 66 bytes
  EXPECT_FALSE(ParseSignatureText(""));

  const std::string key = "BA" + std::string(85, 'A') + "=";  // 0x04, then 64 zero bytes
  ASSERT_EQ(DecodeBase64(key)->size(), 65u);
  const auto parsed = ParsePublicKeyText(key);
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)[0], 4);
  EXPECT_FALSE(ParsePublicKeyText("Ag" + std::string(85, 'A') + "="));  // 0x02: not uncompressed
  EXPECT_FALSE(ParsePublicKeyText(sig64));                                // 64 bytes
  EXPECT_FALSE(ParsePublicKeyText(key + "AAAA"));
}

// One line per signing key; a line that is no signature refuses the whole
// file, so a damaged cosignature never leaves "the others" to pass.
TEST(SignatureText, OneSignatureLinePerKey) {
  const std::string a = ToBase64(std::string(64, 'a')), b = ToBase64(std::string(64, 'b'));
  std::string seventeen;
  for (int k = 0; k < 17; ++k) seventeen += a + "\n";
  const struct {
    std::string text;
    std::size_t lines;  // 0: refused
  } cases[] = {
      {a + "\n", 1},        {a + "\r\n" + b + "\r\n", 2}, {a + "\n\n" + b, 2},
      {a + "\n" + "x\n", 0}, {"", 0},                     {seventeen, 0},
  };
  for (const auto& c : cases) {
    const auto lines = ParseSignatureLines(c.text);
    EXPECT_EQ(lines ? lines->size() : 0u, c.lines) << c.text;
  }
}

}  // namespace
}  // namespace qz
