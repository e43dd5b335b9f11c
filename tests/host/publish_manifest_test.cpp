// The release tool's manifest text: the limits the launcher sets, the text it
// writes, how it reads files and digests back, and its key and digest text.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "publish/manifest_text.h"
#include "publish/publish_error.h"
#include "publish/publish_text.h"

namespace qz::publish {
namespace {

const std::string kSha(64, 'a');

ManifestRequest Good() {
  ManifestRequest s;
  s.progName = "VeltoDemo";
  s.minVer = 100;
  s.fullUrl = "https://dl.example/full/Setup.exe";
  s.fullSha256 = kSha;
  s.fullSize = 3000;
  s.baseUrl = "https://dl.example/patch";
  s.files = {{101, "P-101.zip", kSha, 1010}, {102, "P-102.zip", kSha, 1020}};
  s.serial = 1748779200;
  s.expires = 1751371200;  // 2025-07-01T12:00Z
  return s;
}

// "https://h/" followed by filler up to `length` bytes.
std::string UrlOf(std::size_t length) { return "https://h/" + std::string(length - 10, 'x'); }

TEST(PublishManifest, RefusesWhatTheLauncherWouldRefuseOrMisread) {
  const struct {
    const char* id;
    void (*change)(ManifestRequest&);
    bool refused;
  } cases[] = {
      {"as made", [](ManifestRequest&) {}, false},
      {"name of 19 bytes", [](ManifestRequest& s) { s.progName = std::string(19, 'N'); }, false},
      {"name of 20 bytes", [](ManifestRequest& s) { s.progName = std::string(20, 'N'); }, true},
      {"name with a blank", [](ManifestRequest& s) { s.progName = "Velto Demo"; }, true},
      {"name with a brace", [](ManifestRequest& s) { s.progName = "Velto{"; }, true},
      {"name with a backslash", [](ManifestRequest& s) { s.progName = "a\\b"; }, true},
      {"name not ASCII", [](ManifestRequest& s) { s.progName = "\xe3\x81\x82"; }, true},
      {"MinVer 0", [](ManifestRequest& s) { s.minVer = 0; }, true},
      {"full address of 259 bytes", [](ManifestRequest& s) { s.fullUrl = UrlOf(259); }, false},
      {"full address of 260 bytes", [](ManifestRequest& s) { s.fullUrl = UrlOf(260); }, true},
      {"ftp address", [](ManifestRequest& s) { s.fullUrl = "ftp://dl.example/a"; }, true},
      {"no host", [](ManifestRequest& s) { s.fullUrl = "https:///a"; }, true},
      {"user name", [](ManifestRequest& s) { s.fullUrl = "https://u@dl.example/a"; }, true},
      {"http to another host", [](ManifestRequest& s) { s.fullUrl = "http://dl.example/a"; }, true},
      {"http to loopback", [](ManifestRequest& s) { s.fullUrl = "http://127.0.0.1:8080/a"; }, false},
      {"http to localhost", [](ManifestRequest& s) { s.baseUrl = "http://localhost/p/"; }, false},
      {"base of 259 bytes without '/'", [](ManifestRequest& s) { s.baseUrl = UrlOf(259); s.files.clear(); }, true},
      {"base and file of 259", [](ManifestRequest& s) { s.baseUrl = UrlOf(249) + "/"; }, false},
      {"base and file of 260", [](ManifestRequest& s) { s.baseUrl = UrlOf(250) + "/"; }, true},
      {"files without base", [](ManifestRequest& s) { s.baseUrl.clear(); }, true},
      {"no files, no base", [](ManifestRequest& s) { s.baseUrl.clear(); s.files.clear(); }, false},
      {"file version 0", [](ManifestRequest& s) { s.files[0].version = 0; }, true},
      {"file in a folder", [](ManifestRequest& s) { s.files[0].name = "a/b.zip"; }, true},
      {"file named like a key", [](ManifestRequest& s) { s.files[0].name = "MinVer.zip"; }, true},
      {"file named like the digest key", [](ManifestRequest& s) { s.files[0].name = "SHA256.zip"; }, true},
      {"file with a blank", [](ManifestRequest& s) { s.files[0].name = "a b.zip"; }, true},
      {"file named like a new key", [](ManifestRequest& s) { s.files[0].name = "Size.zip"; }, true},
      {"empty patch file", [](ManifestRequest& s) { s.files[1].size = 0; }, true},
      {"empty setup program", [](ManifestRequest& s) { s.fullSize = 0; }, true},
      {"serial 0", [](ManifestRequest& s) { s.serial = 0; }, true},
      {"expires past 9999", [](ManifestRequest& s) { s.expires = 253402300800; }, true},
  };
  for (const auto& c : cases) {
    ManifestRequest s = Good();
    c.change(s);
    bool refused = false;
    try {
      CheckManifest(s);
    } catch (const PublishError&) {
      refused = true;
    }
    EXPECT_EQ(refused, c.refused) << c.id;
  }
}

TEST(PublishManifest, PlainHttpOnlyToThisMachine) {
  ManifestRequest s = Good();
  for (const char* url : {"http://[::1]:81/a", "http://LOCALHOST/a", "http://127.0.0.1/a"}) {
    s.fullUrl = url;
    EXPECT_NO_THROW(CheckManifest(s)) << url;
  }
  for (const char* url : {"http://localhost.example/a", "http://10.0.0.1/a", "http://[::2]/a", "http://127.example/a",
                          "http://127.0.0.1.example/a", "http://127.0.0.256/a", "http://127.1/a"}) {
    s.fullUrl = url;
    EXPECT_THROW(CheckManifest(s), PublishError) << url;
  }
}

TEST(PublishManifest, VersionsAreWholeNumbersFrom1To9999) {
  for (const char* ok : {"1", "9999", "00101"}) EXPECT_NO_THROW(ParseVersion(ok, "v")) << ok;
  for (const char* bad : {"0", "10000", "65535", "65536", "", "-1", "1a", " 1", "+1", "999999"}) {
    EXPECT_THROW(ParseVersion(bad, "v"), PublishError) << "'" << bad << "'";
  }
  EXPECT_EQ(ParseVersion("00101", "v"), 101);
}

TEST(PublishManifest, WritesEachDigestAfterItsEntryAndReadsThemBack) {
  ManifestRequest s = Good();
  s.files[1].sha256 = std::string(64, 'b');
  const std::string text = ManifestText(s);
  EXPECT_EQ(text,
            "[VLTWUpdateFile]\nProgName VeltoDemo\nTarget game\nSerial 1748779200\n"
            "Expires 2025-07-01T12:00Z\nMinVer 100\n"
            "FullDnURL https://dl.example/full/Setup.exe\nSHA256 " + kSha + "\nSize 3000\n"
            "UpBaseURL https://dl.example/patch\n"
            "UpFileList 101 P-101.zip\nSHA256 " + kSha + "\nSize 1010\n"
            "UpFileList 102 P-102.zip\nSHA256 " + std::string(64, 'b') + "\nSize 1020\n");
  const std::vector<ListedFile> files = ListManifestFiles(text);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].url, "https://dl.example/full/Setup.exe");
  EXPECT_EQ(files[2].url, "https://dl.example/patch/P-102.zip");
  EXPECT_EQ(files[2].sha256, std::string(64, 'b'));
  EXPECT_EQ(files[2].size, 1020u);
}

TEST(PublishManifest, BindingOptions) {
  const std::int64_t now = 1751371200;  // 2025-07-01T12:00Z
  const struct {
    const char* id;
    std::function<void()> parse;
    bool refused;
  } cases[] = {
      {"serial 1", [] { ParseSerial("1"); }, false},
      {"serial max", [] { ParseSerial("4294967295"); }, false},
      {"serial 0", [] { ParseSerial("0"); }, true},
      {"serial over 32 bits", [] { ParseSerial("4294967296"); }, true},
      {"serial signed", [] { ParseSerial("+5"); }, true},
      {"expires next minute", [&] { ParseExpires("2025-07-01T12:01Z", now); }, false},
      {"expires now", [&] { ParseExpires("2025-07-01T12:00Z", now); }, true},
      {"expires with seconds", [&] { ParseExpires("2030-07-01T12:00:00Z", now); }, true},
      {"expires local time", [&] { ParseExpires("2030-07-01T12:00", now); }, true},
      {"expires on 31 June", [&] { ParseExpires("2030-06-31T12:00Z", now); }, true},
      {"target avatar", [] { ParseTarget("avatar"); }, false},
      {"target Game", [] { ParseTarget("Game"); }, true},
  };
  for (const auto& c : cases) {
    bool refused = false;
    try {
      c.parse();
    } catch (const PublishError&) {
      refused = true;
    }
    EXPECT_EQ(refused, c.refused) << c.id;
  }
  EXPECT_EQ(ParseExpires("2025-07-31T12:00Z", now), now + 30 * 86400);
}

TEST(PublishManifest, ReadsDigestsOnlyRightAfterTheirEntry) {
  const std::string h = "[VLTWUpdateFile] UpBaseURL https://b/ ";
  const struct {
    const char* id;
    std::string text;
    bool refused;
    std::string digests;  // of the listed files, '-' for none
  } cases[] = {
      {"bound", h + "UpFileList 1 a.zip SHA256 " + kSha, false, "a"},
      {"one entry unbound", h + "UpFileList 1 a.zip UpFileList 2 b.zip SHA256 " + kSha, false, "-a"},
      {"braces and tabs split tokens", h + "{UpFileList\t1 a.zip}SHA256\r\n" + kSha, false, "a"},
      {"no entry before", h + "SHA256 " + kSha, true, ""},
      {"twice", h + "UpFileList 1 a.zip SHA256 " + kSha + " SHA256 " + kSha, true, ""},
      {"after another key", h + "UpFileList 1 a.zip MinVer 1 SHA256 " + kSha, true, ""},
      {"63 digits", h + "UpFileList 1 a.zip SHA256 " + kSha.substr(1), true, ""},
      {"not hexadecimal", h + "UpFileList 1 a.zip SHA256 " + std::string(64, 'g'), true, ""},
      {"no value", h + "UpFileList 1 a.zip SHA256", true, ""},
      {"no header", "UpFileList 1 a.zip", true, ""},
  };
  for (const auto& c : cases) {
    std::string digests;
    bool refused = false;
    try {
      for (const ListedFile& f : ListManifestFiles(c.text)) digests += f.sha256.empty() ? "-" : f.sha256.substr(0, 1);
    } catch (const PublishError&) {
      refused = true;
    }
    EXPECT_EQ(refused, c.refused) << c.id;
    if (!c.refused) EXPECT_EQ(digests, c.digests) << c.id;
  }
}

TEST(PublishText, Base64IsStandardPaddedAndStrict) {
  const struct {
    std::string bytes;
    const char* text;
  } pairs[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xfb\xff", "+/8="}};
  for (const auto& p : pairs) {
    EXPECT_EQ(ToBase64(p.bytes), p.text);
    if (!p.bytes.empty()) EXPECT_EQ(FromBase64(p.text), p.bytes) << p.text;
  }
  for (const char* bad : {"", "Zg=", "Zg", "Z===", "Zh==", "Zm8=Zm8=", "Zm9v\n", "Zm 9v", "-_8="}) {
    EXPECT_FALSE(FromBase64(bad).has_value()) << "'" << bad << "'";
  }
  EXPECT_EQ(ToHex(std::string("\x00\x9f\xff", 3)), "009fff") << "lowercase, two digits a byte";
}

}  // namespace
}  // namespace qz::publish
