// The address rules: what counts as a web address, what may be downloaded,
// and where a redirect may lead.
#include <gtest/gtest.h>

#include "format/manifest.h"
#include "format/service_request.h"
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

// The maintenance service takes a program's name and nothing else: no path,
// no address, no second line can reach it.
TEST(ServiceChannel, RequestNamesAProgramOnly) {
  struct Case {
    const char* text;
    const char* name;  // null: refused
  } cases[] = {
      {"Update game", "game"},
      {"Update Velto_Game-2.1", "Velto_Game-2.1"},
      {"Update 1234567890123456789", "1234567890123456789"},
      {"Update 12345678901234567890", nullptr},
      {"Update ", nullptr},
      {"update game", nullptr},
      {"Install game", nullptr},
      {"Update  game", nullptr},
      {"Update game ", nullptr},
      {"Update C:\\Games\\game", nullptr},
      {"Update C:game", nullptr},
      {"Update ..\\..\\Windows", nullptr},
      {"Update ..", nullptr},
      {"Update a..b", nullptr},
      {"Update .hidden", nullptr},
      {"Update /etc/game", nullptr},
      {"Update \\\\host\\share", nullptr},
      {"Update https://dl.example/m.txt", nullptr},
      {"Update user@dl.example", nullptr},
      {"Update %TEMP%", nullptr},
      {"Update game\nUpdate other", nullptr},
      {"Update game\r\n", nullptr},
      {"Update game\t", nullptr},
      {"Update \x83Q\x81[\x83\x80", nullptr},
  };
  for (const auto& c : cases) {
    const auto name = ParseServiceRequest(c.text);
    EXPECT_EQ(name.has_value(), c.name != nullptr) << c.text;
    if (name && c.name) EXPECT_EQ(*name, c.name);
  }
  EXPECT_EQ(ParseServiceRequest(std::string_view("Update ga\0me", 12)), std::nullopt);
  EXPECT_EQ(ParseServiceRequest(ServiceRequestText("game")), "game");
}

TEST(ServiceChannel, RepliesRoundTripAndStrangersAreRefused) {
  const auto progress = ParseServiceReply("Progress Download 1024 4096 data\\level 1.pak");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->kind, ServiceReply::Progress);
  EXPECT_EQ(progress->progress.phase, ServicePhase::Download);
  EXPECT_EQ(progress->progress.done, 1024u);
  EXPECT_EQ(progress->progress.total, 4096u);
  EXPECT_EQ(progress->progress.file, "data\\level 1.pak");
  const auto applied = ParseServiceReply(ServiceProgressText({ServicePhase::Apply, 5, 5, "a\nb"}));
  ASSERT_TRUE(applied);
  EXPECT_EQ(applied->progress.file, "a?b");
  const auto log = ParseServiceReply(ServiceLogText("[decide] x\r\ny"));
  ASSERT_TRUE(log);
  EXPECT_EQ(log->kind, ServiceReply::Log);
  EXPECT_EQ(log->log, "[decide] x??y");
  for (ServiceOutcome outcome : {ServiceOutcome::Applied, ServiceOutcome::Current, ServiceOutcome::Failed}) {
    const auto done = ParseServiceReply(ServiceOutcomeText(outcome));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->kind, ServiceReply::Outcome);
    EXPECT_EQ(done->outcome, outcome);
  }
  const auto refused = ParseServiceReply(ServiceOutcomeText(ServiceOutcome::Refused, ServiceRefusal::NotAbove));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->refusal, ServiceRefusal::NotAbove);
  for (const char* stranger : {"", "Outcome", "Outcome Refused", "Outcome Refused None", "Outcome Applied x",
                               "Progress Download -1 4", "Progress Fetch 1 4", "Progress Download 1",
                               "Progress Download 1 99999999999999999999", "Progress Download 0x1 4", "Hello"})
    EXPECT_FALSE(ParseServiceReply(stranger)) << stranger;
}

// The first refusal in the service's order of checks, before and after the
// signed manifest is read; a rollback (Serial at or below the floor) never
// passes.
TEST(ServiceChannel, ChecksRefuseInOrder) {
  ServiceFacts all{false, true, true, true, true};
  EXPECT_EQ(RefusalBeforeFetch(all), ServiceRefusal::None);
  struct Case {
    bool ServiceFacts::*field;
    bool value;
    ServiceRefusal refusal;
  } cases[] = {
      {&ServiceFacts::disabled, true, ServiceRefusal::Disabled},
      {&ServiceFacts::registered, false, ServiceRefusal::NotRegistered},
      {&ServiceFacts::addressRecorded, false, ServiceRefusal::NoRecordedAddress},
      {&ServiceFacts::keysUsable, false, ServiceRefusal::NoKeys},
      {&ServiceFacts::folderAdminOnly, false, ServiceRefusal::FolderWritable},
  };
  for (const auto& c : cases) {
    ServiceFacts facts = all;
    facts.*c.field = c.value;
    EXPECT_EQ(RefusalBeforeFetch(facts), c.refusal) << ServiceRefusalWord(c.refusal);
  }
  EXPECT_EQ(RefusalAfterFetch(8, 7, true), ServiceRefusal::None);
  EXPECT_EQ(RefusalAfterFetch(7, 7, true), ServiceRefusal::NotAbove);
  EXPECT_EQ(RefusalAfterFetch(3, 7, true), ServiceRefusal::NotAbove);
  EXPECT_EQ(RefusalAfterFetch(8, 7, false), ServiceRefusal::NotAnUpgrade);
}

}  // namespace
}  // namespace qz
