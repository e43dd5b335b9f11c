// The control's pure rules: the record it fills, the document-cookie check,
// the pages it trusts and its registration rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/cookie_check.h"
#include "record/launch_fill.h"
#include "base/registration_script.h"
#include "control/site_origin.h"
#include "base/portal.h"

namespace qz {
namespace {

std::string Bytes(const char* field, std::size_t width) { return std::string(field, width); }

TEST(ControlBlockFill, FieldsAreCutAtTheirWidthAndZeroPadded) {
  LaunchTexts texts;
  texts[0] = "Vltw_OnlySetup12";                  // exactly 16 bytes
  texts[1] = "ProgramNameOf20Bytes+extra";          // 26 bytes into 20
  texts[6] = "8080";                                // shorter than its 6
  texts[10] = std::string(127, 'x') + "\x82\xa0";  // Shift-JIS "あ" over the last byte
  const LaunchBlock block = FillLaunchBlock(texts);

  EXPECT_EQ(Bytes(block.RunMode, 16), "Vltw_OnlySetup12");  // no terminator inside the field
  EXPECT_EQ(Bytes(block.ProgName, 20), "ProgramNameOf20Bytes");
  EXPECT_EQ(Bytes(block.ServPort, 6), std::string("8080\0\0", 6));
  EXPECT_EQ(static_cast<unsigned char>(block.Spare[127]), 0x82u) << "lead byte kept, trail byte cut";
  EXPECT_EQ(FieldText(block.Spare).size(), 128u);
  for (char c : block.AuthCookie) ASSERT_EQ(c, '\0') << "an empty text leaves its field zero";
}

TEST(ControlBlockFill, TwentyByteRunModeKeepsItsFirstSixteen) {
  LaunchTexts texts;
  texts[0] = "ABCDEFGHIJKLMNOPQRST";
  texts[1] = "next";
  const LaunchBlock block = FillLaunchBlock(texts);
  EXPECT_EQ(Bytes(block.RunMode, 16), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(FieldText(block.ProgName), "next") << "the cut must not spill into the next field";
}

TEST(ControlBlockFill, EveryFieldGetsItsOwnText) {
  LaunchTexts texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = "v" + std::to_string(i);
  const LaunchBlock block = FillLaunchBlock(texts);
  const char* base = reinterpret_cast<const char*>(&block);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(kLaunchBlockFields[i].name);
    const LaunchBlockField& f = kLaunchBlockFields[i];
    EXPECT_EQ(std::string(base + f.offset), texts[i]);
  }
}

TEST(ControlCookieCheck, Examples) {
  const std::string data = "xx Juser abc";  // holds the decoded ID and the code
  struct Case {
    const char* id;
    const char* cookie;
    const char* dataCookie;
    bool passes;
  } cases[] = {
      {"basic", "X=M%5FCODE=abc&ID=%4Auser&", "Juser,abc", true},
      {"lower-case escape", "X=M%5FCODE=abc&ID=%4auser&", "Juser,abc", true},
      {"code missing from data", "X=M%5FCODE=abc&ID=%4Auser&", "Juser", false},
      {"ID missing from data", "X=M%5FCODE=abc&ID=%4Auser&", "abc", false},
      {"empty values pass", "X=M%5FCODE=&ID=&Y", "", true},
      {"code compared undecoded", "M%5FCODE=a%20b&ID=u&", "u a%20b", true},
      {"decoded code does not match", "M%5FCODE=a%20b&ID=u&", "u a b", false},
      {"value runs past the next cookie", "A=M%5FCODE=abc; B=x&ID=u&y", "u abc; B=x", true},
      {"value runs past the next cookie, data lacks it", "A=M%5FCODE=abc; B=x&ID=u&y", "u abc", false},
      {"plus stays plus", "M%5FCODE=c&ID=a+b&", "a+b c", true},
      {"case-sensitive keys", "m%5fcode=c&ID=u&", "u c", false},
      {"ID found anywhere with its &", "&ID=u&M%5FCODE=c&", "u c", true},
      {"ID without & is not a key", "ID=u&M%5FCODE=c&", "u c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(CookieCheckPasses(c.cookie, c.dataCookie), c.passes);
  }
}

TEST(ControlCookieCheck, UnprovableCookiesFailWithTheirReason) {
  const std::string v63(63, 'a');
  const std::string v64(64, 'a');
  using V = CookieVerdict;
  struct Case {
    const char* id;
    std::string cookie;
    CookieVerdict verdict;
  } cases[] = {
      {"no code key", "X=1&ID=u&", V::Unreadable},
      {"no ID key", "M%5FCODE=c&", V::Unreadable},
      {"no & after the code", "&ID=u&M%5FCODE=c", V::Unreadable},
      {"no & after the ID", "M%5FCODE=c&ID=u", V::Unreadable},
      {"code of 63 bytes", "M%5FCODE=" + v63 + "&ID=u&", V::Passes},
      {"code of 64 bytes", "M%5FCODE=" + v64 + "&ID=u&", V::TooLong},
      {"raw ID of 63 bytes", "M%5FCODE=c&ID=" + v63 + "&", V::Passes},
      {"raw ID of 64 bytes", "M%5FCODE=c&ID=" + v64 + "&", V::TooLong},
      {"raw ID over 63 though decoded shorter", "M%5FCODE=c&ID=" + std::string(22, 'x') + std::string("%41", 3) + std::string(40, 'x') + "&", V::TooLong},
      {"% at the end", "M%5FCODE=c&ID=u%&", V::Unreadable},
      {"% with one digit", "M%5FCODE=c&ID=u%4&", V::Unreadable},
      {"% with a non-hex digit", "M%5FCODE=c&ID=u%4G&", V::Unreadable},
      {"another user", "M%5FCODE=c&ID=w&", V::Mismatch},
  };
  const std::string data = "u c " + v63;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(CheckDocumentCookie(c.cookie, data), c.verdict);
    EXPECT_EQ(CookieCheckPasses(c.cookie, data), c.verdict == V::Passes);
  }
}

TEST(ControlCookieCheck, DataCookieIsReadUpToItsFirstZero) {
  // What the record's field holds: the text, then zeros.
  const std::string field("abc\0Juser", 9);
  EXPECT_FALSE(CookieCheckPasses("M%5FCODE=abc&ID=Juser&", field));
  EXPECT_TRUE(CookieCheckPasses("M%5FCODE=abc&ID=&", field));
}

TEST(ControlCookieCheck, ParsedValues) {
  const auto values = ParseDocumentCookie("M%5FCODE=a%41&ID=%4a%2Bx+y&");
  ASSERT_TRUE(values);
  EXPECT_EQ(values->code, "a%41");
  EXPECT_EQ(values->id, "J+x+y");
}

TEST(ControlSiteLock, PagesAgainstThePortalAndTheList) {
  const std::vector<std::string> listed = {"https://*.example.jp", "http://games.test:8080/",
                                           "https://exact.example.com", "not an address"};
  struct Case {
    const char* page;
    bool trusted;
  } cases[] = {
      // The portal's own origin, in any letter case and with any path.
      {"https://portal.velto.example/", true},
      {"https://PORTAL.velto.example/games/start?x=1#top", true},
      {"HTTPS://portal.velto.example:443/", true},
      {"http://portal.velto.example/", false},            // http vs https
      {"https://portal.velto.example:8443/", false},      // another port
      {"https://portal.velto.example.evil.test/", false}, // look-alike
      {"https://evilportal.velto.example/", false},
      {"https://velto.example/", false},
      {"https://portal.velto.example@evil.test/", false},  // user information
      {"https://evil.test\\@portal.velto.example/", false},
      {"https://evil.test/?https://portal.velto.example/", false},
      {"https://portal%2Evelto.example/", false},
      {"https://portal.velto.example./", false},
      // Listed: subdomain wildcard over https only.
      {"https://a.example.jp/", true},
      {"https://a.b.example.jp:443/page", true},
      {"https://example.jp/", false},  // the wildcard covers subdomains only
      {"http://a.example.jp/", false},
      {"https://a.example.jp:444/", false},
      {"https://example.jp.evil.test/", false},
      {"https://a.example.jp.evil.test/", false},
      {"https://aexample.jp/", false},
      // An http entry is ignored.
      {"http://games.test:8080/x", false},
      {"http://games.test/", false},
      {"https://games.test:8080/", false},
      {"https://exact.example.com/", true},
      {"https://sub.exact.example.com/", false},
      // Not web pages at all.
      {"file:///C:/portal.html", false},
      {"about:blank", false},
      {"", false},
      {"https://", false},
      {"https://[::1]/", false},
      {"https://host:99999/", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(IsTrustedPage(c.page, kPortalAddress, listed), c.trusted);
  }
}

TEST(ControlSiteLock, WildcardOnlyInListedEntries) {
  EXPECT_FALSE(ParseOrigin("https://*.example.jp/"));
  const auto entry = ParseOrigin("https://*.Example.JP", true);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->host, "*.example.jp");
  EXPECT_EQ(entry->port, 443u);
  for (const char* bad : {"https://*", "https://*.", "https://a.*.example.jp", "https://*example.jp"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseOrigin(bad, true));
  }
  EXPECT_FALSE(IsTrustedPage("https://a.example.jp/", kPortalAddress, {"https://*"}));
}

TEST(ControlRegistration, ScriptRowsWithIdentifiersFilledIn) {
  const char* script =
      "; comment\r\n"
      "\r\n"
      "tree  Prog.Id\r\n"
      "value Prog.Id | @ | Some Class\r\n"
      "fresh CLSID\\%CLSID%\n"
      "value CLSID\\%CLSID%\\InprocServer32 | ThreadingModel | both\n"
      "value CLSID\\%CLSID%\\InprocServer32 | @ | %MODULE%";
  const auto rows = ParseRegistrationScript(script, "{ID}", "C:\\dir\\Tessacom1.dll");
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 5u);
  using Kind = RegistryRow::Kind;
  EXPECT_EQ((*rows)[0].kind, Kind::Tree);
  EXPECT_EQ((*rows)[0].key, "Prog.Id");
  EXPECT_EQ((*rows)[1].kind, Kind::Value);
  EXPECT_EQ((*rows)[1].name, "");
  EXPECT_EQ((*rows)[1].data, "Some Class");
  EXPECT_EQ((*rows)[2].kind, Kind::FreshTree);
  EXPECT_EQ((*rows)[2].key, "CLSID\\{ID}");
  EXPECT_EQ((*rows)[3].name, "ThreadingModel");
  EXPECT_EQ((*rows)[4].data, "C:\\dir\\Tessacom1.dll");
}

// The launcher's elevation policy is the only machine key the control owns.
TEST(ControlRegistration, MachineRowsOnlyForTheElevationPolicy) {
  const std::string policy = "SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\{P}";
  const std::string script = "fresh HKLM\\" + policy + "\n" +
                             "value HKLM\\" + policy + " | AppPath | %WINDOWS%\n" +
                             "number HKLM\\" + policy + " | Policy | 3\n" +
                             "number Prog.Id | Big | 4294967295\n";
  const auto rows = ParseRegistrationScript(script, "{ID}", "m", "C:\\Windows");
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 4u);
  EXPECT_TRUE((*rows)[0].machine);
  EXPECT_EQ((*rows)[0].key, policy);
  EXPECT_EQ((*rows)[1].data, "C:\\Windows");
  EXPECT_EQ((*rows)[2].kind, RegistryRow::Kind::Number);
  EXPECT_EQ((*rows)[2].number, 3u);
  EXPECT_FALSE((*rows)[3].machine);
  EXPECT_EQ((*rows)[3].number, 4294967295u);

  for (const char* bad :
       {"tree HKLM\\SOFTWARE\\Microsoft",
        "tree HKLM\\SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\",
        "tree HKLM\\SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicyX\\{P}",
        "value HKLM\\SOFTWARE\\Veltoworks | x | y", "number Key | n | 4294967296", "number Key | n | -1",
        "number Key | n | 3x", "number Key | n | "}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseRegistrationScript(bad, "{ID}", "m", "C:\\Windows"));
  }
}

TEST(ControlRegistration, DamagedScriptsRegisterNothing) {
  for (const char* script : {"value Key | @", "remove Key", "tree", "tree CLSID", "tree \\Key",
                             "tree Key\\", "value Key\\\\Sub | @ | x", "value Key |  | x"}) {
    SCOPED_TRACE(script);
    EXPECT_FALSE(ParseRegistrationScript(script, "{ID}", "m"));
  }
}

}  // namespace
}  // namespace qz
