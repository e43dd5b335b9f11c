// The address rules: what counts as a web address, what may be downloaded,
// and where a redirect may lead.
#include <gtest/gtest.h>

#include "format/manifest.h"
#include "format/web_address.h"

namespace qz {
namespace {

TEST(FetchUrl, HttpsAnywhereHttpOnlyToThisPc) {
  struct Case {
    const char* url;
    bool allowed;
  } cases[] = {
      // https to any host
      {"https://dl.example/game.txt", true},
      {"HTTPS://DL.EXAMPLE:8443/p/", true},
      {"https://127.0.0.1:443/x", true},
      // http to loopback, any spelling of the scheme and localhost, any port
      {"http://127.0.0.1/game.txt", true},
      {"http://127.0.0.1:8080/game.txt", true},
      {"http://127.255.3.4", true},
      {"HTTP://LocalHost:65535/x?y#z", true},
      {"http://[::1]:80/x", true},
      {"http://[::1]", true},
      // http anywhere else
      {"http://dl.example/game.txt", false},
      {"http://10.0.0.1/x", false},
      {"http://128.0.0.1/x", false},
      {"http://0.0.0.0/x", false},
      {"http://[::2]/x", false},
      {"http://[0:0:0:0:0:0:0:1]/x", false},
      // look-alikes of this PC
      {"http://127.0.0.1.evil.example/", false},
      {"http://localhost.evil/", false},
      {"http://localhost./", false},
      {"http://127.0.0.1@evil.example/", false},
      {"http://evil.example@127.0.0.1/", false},
      {"http://127.0.0.1:80@evil.example/", false},
      {"http://127.0.0.1\\@evil.example/", false},
      {"http://127.0.0.1\\evil.example/", false},
      {"http://localhost#@evil.example/", false},
      {"http://localhost?@evil.example/", false},
      {"http://127%2E0.0.1/", false},
      {"http://%6cocalhost/", false},
      {"http://127.0.0.1%00.evil.example/", false},
      {"http://0177.0.0.1/", false},
      {"http://0127.0.0.1/", false},
      {"http://127.0.0.01/", false},
      {"http://127.1/", false},
      {"http://127.0.0.1.1/", false},
      {"http://127.0.0.256/", false},
      {"http://2130706433/", false},
      {"http://127.0.0.1 .evil.example/", false},
      {"http://127.0.0.1\t/", false},
      {"http://[::1/", false},
      {"http://[::1]x/", false},
      // ports must be plain numbers in range
      {"http://127.0.0.1:/x", false},
      {"http://127.0.0.1:0/x", false},
      {"http://127.0.0.1:65536/x", false},
      {"http://127.0.0.1:+80/x", false},
      {"http://127.0.0.1:8080:1/x", false},
      {"http://[::1]:/x", false},
      // not web addresses at all
      {"", false},
      {"http://", false},
      {"https://", false},
      {"http:///x", false},
      {"file:///C:/x", false},
      {"ftp://127.0.0.1/x", false},
      {"//127.0.0.1/x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFetchUrl(c.url), c.allowed) << c.url;
  }
  EXPECT_FALSE(IsFetchUrl(nullptr));
}

TEST(FetchUrl, RedirectsNeverLeaveHttps) {
  struct Case {
    const char* from;
    const char* to;
    bool allowed;
  } cases[] = {
      {"https://dl.example/a", "https://cdn.example/a", true},
      {"http://127.0.0.1/a", "https://cdn.example/a", true},
      {"http://127.0.0.1:1/a", "http://localhost:2/a", true},
      {"https://dl.example/a", "http://127.0.0.1/a", false},
      {"HTTPS://127.0.0.1/a", "http://127.0.0.1/a", false},
      {"http://127.0.0.1/a", "http://dl.example/a", false},
      {"http://dl.example/a", "https://dl.example/a", false},
      {"https://dl.example/a", "file:///C:/a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFetchRedirect(c.from, c.to), c.allowed) << c.from << " -> " << c.to;
  }
}

TEST(WebUrl, EitherSchemeWithAHost) {
  for (const char* url : {"http://dl.example/", "https://x", "HtTp://127.0.0.1"}) EXPECT_TRUE(IsWebUrl(url)) << url;
  for (const char* url : {"http://", "https:///x", "mailto:a@b", "javascript:x", "C:\\x"}) {
    EXPECT_FALSE(IsWebUrl(url)) << url;
  }
}

// A CDN's signed query stays on the signature's address; a mirror holds the
// same path without the main host's query.
TEST(WebUrl, SignatureAndMirrorAddresses) {
  const struct {
    const char* url;
    const char* sig;
    const char* mirrored;  // under https://m.example/velto/
  } cases[] = {
      {"https://dl.example/full/Setup.exe", "https://dl.example/full/Setup.exe.sig",
       "https://m.example/velto/full/Setup.exe"},
      {"https://cdn.example/game.txt?Expires=9&Signature=ab", "https://cdn.example/game.txt.sig?Expires=9&Signature=ab",
       "https://m.example/velto/game.txt"},
      {"https://dl.example:8443/a/b.zip#x", "https://dl.example:8443/a/b.zip.sig#x", "https://m.example/velto/a/b.zip"},
      {"https://dl.example", "https://dl.example.sig", "https://m.example/velto/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignatureAddress(c.url), c.sig);
    EXPECT_EQ(MirroredAddress(c.url, "https://m.example/velto/"), std::optional<std::string>(c.mirrored));
  }
  EXPECT_FALSE(MirroredAddress("C:\\x", "https://m.example/"));
}

TEST(WebUrl, ChannelManifestLiesBesideTheMainOne) {
  const struct {
    const char* main;
    const char* beta;
  } cases[] = {
      {"https://dl.example/m/VeltoGame.txt", "https://dl.example/m/VeltoGame.beta.txt"},
      {"https://dl.example/m/VeltoGame.txt?Expires=9", "https://dl.example/m/VeltoGame.beta.txt?Expires=9"},
      {"https://dl.example/m.d/VeltoGame", "https://dl.example/m.d/VeltoGame.beta"},
      {"https://dl.example/a.b.txt", "https://dl.example/a.b.beta.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChannelAddress(c.main, "beta"), c.beta);
  for (const char* name : {"beta", "qa-2", "main"}) EXPECT_TRUE(IsChannelName(name)) << name;
  const std::string tooLong(33, 'b');
  for (const char* name : {"", "Beta", "beta/x", "b.t", tooLong.c_str()}) EXPECT_FALSE(IsChannelName(name)) << name;
}

}  // namespace
}  // namespace qz
