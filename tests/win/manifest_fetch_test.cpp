// Fetching the update manifest from the test download server, with the
// installation record in a scratch registry.
#include <gtest/gtest.h>

#include <memory>

#include "launcher/launcher_app.h"
#include "tests/winsupport/launcher_app_peer.h"
#include "tests/win/scratch_registry.h"
#include "tests/winsupport/test_signer.h"
#include "update/manifest_fetch.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

const std::string kEntries =
    "[VLTWUpdateFile]\r\nProgName game\r\nMinVer 100\r\nFullDnURL http://dl.example/setup.exe\r\n"
    "UpBaseURL http://dl.example/p\r\nUpFileList 101 p101.zip\r\n";
const std::string kLast = "\r\nUpFileList 102 last.zip";

// A manifest of exactly `size` bytes whose last entry ends the text, so only a
// complete read finds it.
std::string ManifestOfSize(std::size_t size) {
  std::string text = kEntries;
  text.append(size - text.size() - kLast.size(), ' ');
  return text + kLast;
}

class ManifestFetch : public ScratchRegistry {
 protected:
  void SetUp() override {
    ScratchRegistry::SetUp();
    SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\game", "Version", "100");
    SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\game", "RunDir", "C:\\Games\\V");
    SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\game", "RunFileName", "C:\\Games\\V\\g.exe");
    LauncherAppPeer(*app_).target() = Target::Game;
    ASSERT_TRUE(LauncherAppPeer(*app_).http().OpenSession("Quorlynx"));
  }
  bool Fetch(const std::string& path) { return app_->ReadManifest(ServerUrl(path)).read; }
  std::unique_ptr<LauncherApp> app_ = std::make_unique<LauncherApp>();
};

TEST_F(ManifestFetch, SizeAndTransferLimits) {
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "max.txt", ManifestOfSize(65535)));
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "over.txt", ManifestOfSize(65536)));
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "empty.txt", ""));
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "slow.txt", ManifestOfSize(12000)));
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "local.txt", "[VLTWUpdateFile] FullDnURL file:///C:/setup.exe"));
  struct Case {
    const char* path;
    bool ok;
  } cases[] = {
      {"max.txt", true},          {"over.txt", false},          {"empty.txt", false},
      {"~status=404/max.txt", false}, {"~chunked/max.txt", false}, {"~short=10/max.txt", false},
      {"~rate=6000/slow.txt", true},  {"local.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Fetch(c.path), c.ok);
    if (c.ok) {
      ASSERT_EQ(LauncherAppPeer(*app_).plan().updateList.size(), 2u) << "the entry at the very end was read";
      EXPECT_EQ(LauncherAppPeer(*app_).plan().updateList[1].url, "http://dl.example/p/last.zip");
    } else {
      EXPECT_TRUE(LauncherAppPeer(*app_).plan().updateList.empty());
    }
  }
  EXPECT_FALSE(app_->ReadManifest("file:///" + ServerRoot() + "max.txt").read) << "not a web address";
}

TEST_F(ManifestFetch, ReadsTheRecordOfTheProgramItNames) {
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "game.txt", kEntries + kLast));
  ASSERT_TRUE(Fetch("game.txt"));
  EXPECT_EQ(LauncherAppPeer(*app_).plan().installedVer, 100);
  EXPECT_EQ(LauncherAppPeer(*app_).plan().latestVer, 102);
  EXPECT_EQ(LauncherAppPeer(*app_).plan().minVer, 100);
  EXPECT_EQ(LauncherAppPeer(*app_).plan().progName, "game");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().fullDnUrl, "http://dl.example/setup.exe");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().gameDir, "C:\\Games\\V\\");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().gameExe, "C:\\Games\\V\\g.exe");

  // The next fetch starts clean: nothing the previous manifest named carries
  // over (the avatar module's installer must never become the game's).
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "noname.txt",
                             "[VLTWUpdateFile] UpBaseURL http://dl.example/q/ UpFileList 5 a.zip"));
  ASSERT_TRUE(Fetch("noname.txt"));
  EXPECT_EQ(LauncherAppPeer(*app_).plan().installedVer, 0);
  ASSERT_EQ(LauncherAppPeer(*app_).plan().updateList.size(), 1u);
  EXPECT_EQ(LauncherAppPeer(*app_).plan().updateList[0].url, "http://dl.example/q/a.zip");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().progName, "");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().fullDnUrl, "");
  EXPECT_EQ(LauncherAppPeer(*app_).plan().minVer, 0);
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "nobase.txt", "[VLTWUpdateFile] UpFileList 5 a.zip"));
  EXPECT_FALSE(Fetch("nobase.txt")) << "no base address of its own: the entry is no web address";

  // Not a manifest: a success that takes nothing.
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "page.html", "<html>not found</html>"));
  EXPECT_TRUE(Fetch("page.html"));
  EXPECT_EQ(LauncherAppPeer(*app_).plan().installedVer, 0);
  EXPECT_TRUE(LauncherAppPeer(*app_).plan().updateList.empty());

  // The avatar module's record gives no game folder.
  auto avatar = std::make_unique<LauncherApp>();
  LauncherAppPeer(*avatar).target() = Target::AvatarModule;
  ASSERT_TRUE(LauncherAppPeer(*avatar).http().OpenSession("Quorlynx"));
  ASSERT_TRUE(avatar->ReadManifest(ServerUrl("game.txt")).read);
  EXPECT_EQ(LauncherAppPeer(*avatar).plan().installedVer, 100);
  EXPECT_EQ(LauncherAppPeer(*avatar).plan().gameDir, "");
}

// With a key configured, only a signature file whose every line is a
// signature, one of them by that key, lets the manifest through.
TEST(ManifestSignature, OnlyAValidSignatureFileLetsTheManifestThrough) {
  TestSigner signer;
  const ManifestTrust trust = TrustFromKeyLines({signer.PublicKeyLine()});
  const std::string text = "[VLTWUpdateFile] ProgName game Target game Serial 5 Expires 2099-01-01T00:00Z MinVer 1";
  const std::string good = signer.SignatureText(text);
  struct Case {
    const char* id;
    const char* sig;  // nullptr: no signature file
    std::string bytes;
    bool ok;
  } cases[] = {
      {"good", "m.txt.sig", good, true},
      {"good with blanks around", "m.txt.sig", "\r\n " + good + " \r\n", true},
      {"missing", nullptr, "", false},
      {"empty", "m.txt.sig", "", false},
      {"not base64", "m.txt.sig", "not base64!", false},
      {"63 bytes", "m.txt.sig", Base64(std::string(63, 'x')), false},
      {"65 bytes", "m.txt.sig", Base64(std::string(65, 'x')), false},
      {"two lines, one key", "m.txt.sig", good + good, true},
      {"a second line that is no signature", "m.txt.sig", good + "not base64!\n", false},
  };
  HttpClient http;
  ASSERT_TRUE(http.OpenSession("Quorlynx"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(WriteFileBytes(ServerRoot() + "m.txt", text));
    DeleteFileA((ServerRoot() + "m.txt.sig").c_str());
    if (c.sig) {
      ASSERT_TRUE(WriteFileBytes(ServerRoot() + c.sig, c.bytes));
    }
    const auto plan = FetchUpdatePlan(http, ServerUrl("m.txt").c_str(), trust);
    EXPECT_EQ(plan.plan.has_value(), c.ok);
  }
  // No key configured: the manifest is read without looking for a signature.
  DeleteFileA((ServerRoot() + "m.txt.sig").c_str());
  EXPECT_TRUE(FetchUpdatePlan(http, ServerUrl("m.txt").c_str(), ManifestTrust{}).plan);
  // A configured line that is no key still demands a signature.
  EXPECT_TRUE(TrustFromKeyLines({"not a key"}).signatureRequired);
}

// The highest Serial accepted is kept per user and program, and only a
// manifest that passed every check raises it.
TEST_F(ManifestFetch, SerialsNeverGoBackAndOnlyAcceptedOnesCount) {
  TestSigner signer;
  const ManifestTrust trust = TrustFromKeyLines({signer.PublicKeyLine()});
  ManifestCheck check;
  check.target = ManifestTarget::Game;
  check.pageProgName = "game";
  check.now = 1751371200;  // 2025-07-01T12:00Z
  const struct {
    const char* id;
    const char* target;
    const char* serial;
    const char* expires;
    bool ok, outOfDate;
    DWORD seen;  // afterwards
  } steps[] = {
      {"first", "game", "10", "2025-07-31T00:00Z", true, false, 10},
      {"rollback", "game", "9", "2025-07-31T00:00Z", false, false, 10},
      {"expired, fast-forward", "game", "4294967295", "2025-07-01T12:00Z", false, true, 10},
      {"avatar's, fast-forward", "avatar", "4294967295", "2025-07-31T00:00Z", false, false, 10},
      {"same again", "game", "10", "2025-07-31T00:00Z", true, false, 10},
      {"newer", "game", "11", "2025-07-31T00:00Z", true, false, 11},
  };
  HttpClient http;
  ASSERT_TRUE(http.OpenSession("Quorlynx"));
  auto fetch = [&](const std::string& text) {
    EXPECT_TRUE(WriteFileBytes(ServerRoot() + "s.txt", text));
    EXPECT_TRUE(WriteFileBytes(ServerRoot() + "s.txt.sig", signer.SignatureText(text)));
    return FetchUpdatePlan(http, ServerUrl("s.txt").c_str(), trust, check);
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.id);
    const FetchedPlan fetched = fetch(std::string("[VLTWUpdateFile] ProgName game Target ") + step.target +
                                      " Serial " + step.serial + " Expires " + step.expires);
    EXPECT_EQ(fetched.plan.has_value(), step.ok) << fetched.why;
    EXPECT_EQ(fetched.outOfDate, step.outOfDate);
    DWORD seen = 0;
    DWORD size = sizeof seen;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Veltoworks\\Seen", "game", RRF_RT_REG_DWORD, nullptr,
                           &seen, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(seen, step.seen);
  }
  // A kept serial that cannot be read refuses rather than forgets.
  SetText(HKEY_CURRENT_USER, "Software\\Veltoworks\\Seen", "game", "11");
  EXPECT_FALSE(fetch("[VLTWUpdateFile] ProgName game Target game Serial 12 Expires 2025-07-31T00:00Z").plan);
}

// A ManifestKeys value that exists but cannot be used requires signatures
// that nothing verifies, and says why.
TEST_F(ManifestFetch, UnusableManifestKeysRefuseEverything) {
  TestSigner signer;
  const std::string good = signer.PublicKeyLine();
  const struct {
    const char* id;
    DWORD type;
    std::string data;
    bool usable;
  } cases[] = {
      {"one key", REG_MULTI_SZ, good + std::string("\0\0", 2), true},
      {"a plain string", REG_SZ, good + std::string("\0", 1), false},
      {"a line that is no key", REG_MULTI_SZ, good + std::string("\0", 1) + "BAD" + std::string("\0\0", 2), false},
      {"no string at all", REG_MULTI_SZ, std::string("\0\0", 2), false},
      {"over 64 KiB", REG_MULTI_SZ, good + std::string("\0", 1) + std::string(65 * 1024, 'a') + std::string("\0\0", 2),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "ManifestKeys", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    const ManifestTrust trust = LoadManifestTrust();
    EXPECT_TRUE(trust.signatureRequired);
    EXPECT_EQ(trust.keys.empty(), !c.usable) << "both registry views are read";
    EXPECT_EQ(trust.problem.empty(), c.usable) << trust.problem;
  }
}

}  // namespace
}  // namespace qz
