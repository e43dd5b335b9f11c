// What the launcher accepts once the machine names the publishers' keys: a
// manifest signed by one of them, and files whose SHA-256 is the one the
// manifest states. Everything else is refused before it is run, unpacked or
// recorded.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "base/field_text.h"
#include "base/portal.h"
#include "format/manifest.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const std::string kRecordKey = std::string("SOFTWARE\\Veltoworks\\") + kProg;
const char kSeenKey[] = "Software\\Veltoworks\\Seen";

// The lines that bind a manifest: its check, its serial and an expiry
// `days` from now (negative: already past).
std::string Bound(const char* target = "game", const std::string& serial = "1000", int days = 30) {
  const std::int64_t expires = static_cast<std::int64_t>(std::time(nullptr)) + days * 86400LL;
  return std::string("Target ") + target + "\r\nSerial " + serial + "\r\nExpires " + ManifestTimeText(expires) +
         "\r\n";
}

// The highest serial this user accepted for the game; 0 when none.
DWORD Seen() {
  DWORD seen = 0;
  DWORD size = sizeof seen;
  RegGetValueA(HKEY_CURRENT_USER, kSeenKey, kProg, RRF_RT_REG_DWORD, nullptr, &seen, &size);
  return seen;
}
void SetSeen(DWORD serial) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kSeenKey, &key), ERROR_SUCCESS);
  RegSetValueExA(key, kProg, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&serial), sizeof serial);
  RegCloseKey(key);
}

class TrustTest : public testing::Test {
 public:
  void SetUp() override {
    SetManifestKeys({signer_.PublicKeyLine()});
    RegDeleteTreeA(HKEY_CURRENT_USER, kSeenKey);
    gameDir_ = NewTempDir("Velto Game ");
  }
  void TearDown() override {
    SetManifestKeys({});
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "SignaturesRequired");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Veltoworks", "Channel");
    RegDeleteTreeA(HKEY_CURRENT_USER, kSeenKey);
  }
  // Two publishers' keys: `keys` of them configured, `lines` of them in the
  // .sig, `required` the machine's threshold.
  void TwoKeys(const std::string& manifest, int keys, int lines, DWORD required) {
    std::vector<std::string> configured{second_.PublicKeyLine()};
    if (keys == 2) configured.push_back(signer_.PublicKeyLine());
    SetManifestKeys(configured);
    HKEY settings;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &settings), ERROR_SUCCESS);
    RegSetValueExA(settings, "SignaturesRequired", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&required),
                   sizeof required);
    RegCloseKey(settings);
    Publish("game.txt", manifest);
    Publish("game.txt.sig",
            signer_.SignatureText(manifest) + (lines == 2 ? second_.SignatureText(manifest) : std::string()));
  }
  // Publishes the manifest and, unless told otherwise, its signature.
  std::string PublishSigned(const std::string& relPath, const std::string& text) {
    Publish(relPath, text);
    Publish(relPath + ".sig", signer_.SignatureText(text));
    return ServerUrl(relPath);
  }
  // The entry with the SHA-256 of `bytes` and its size (`size` when given).
  std::string Hashed(const std::string& entry, const std::string& bytes, std::size_t size = std::string::npos) {
    return entry + "\r\nSHA256 " + Sha256Hex(bytes) + "\r\nSize " +
           std::to_string(size == std::string::npos ? bytes.size() : size) + "\r\n";
  }
  TestSigner signer_, second_;
  std::string gameDir_;
};

// Every way a manifest fails the check looks the same to the player: the
// update could not be fetched (or, for an expired one, is out of date), and
// nothing starts. A refused manifest never raises the kept serial.
struct Refusal {
  const char* id;
  // Publishes game.txt (and what goes with it) for a current game; the
  // manifest given is bound as a release with serial 1000.
  std::function<void(TrustTest&, const std::string& manifest)> publish;
  bool starts;
  const wchar_t* says = texts::kUpdateFailed;
  const char* logSays = "";
  // The page names the avatar module's manifest too (avatar.txt) / its own ProgName.
  bool withAvatar = false;
  const char* pageProg = "";
  const char* address = "game.txt";  // the manifest's address on the page
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.id; }

class ManifestRefusal : public TrustTest, public testing::WithParamInterface<Refusal> {};

TEST_P(ManifestRefusal, ShowsTheUpdateFailureAndStartsNothing) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string manifest = "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\n" + Bound() +
                               "MinVer 100\r\n" + Hashed("FullDnURL " + ServerUrl("full/setup.exe"), "setup") +
                               "UpBaseURL " + ServerUrl("patch/") + "\r\n";
  const Refusal& c = GetParam();
  c.publish(*this, manifest);
  const DWORD seenBefore = Seen();
  LaunchBlock block = BlockWith(ServerUrl(c.address), c.withAvatar ? ServerUrl("avatar.txt") : "");
  SetField(block.ProgName, c.pageProg);
  LauncherRun run = StartLauncher(block);
  if (c.starts) {
    EXPECT_FALSE(GameRecord(exe).empty()) << "a current game with a good signature starts";
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
    EXPECT_EQ(Seen(), 1000u) << "the accepted serial is kept";
    return;
  }
  ASSERT_TRUE(Answer(run.process.pid(), c.says, IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_TRUE(GameRecord(exe, 1000).empty());
  EXPECT_EQ(Seen(), seenBefore) << "a refused manifest is never remembered";
  EXPECT_NE(SupportLog().find(c.logSays), std::string::npos) << SupportLog();
}

// A signed manifest as it is, with one line changed.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Trust, ManifestRefusal,
    testing::Values(
        Refusal{"good", [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", m); }, true},
        Refusal{"wrong_signature",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m + " ");
                  Publish("game.txt", m);
                },
                false},
        Refusal{"unknown_key",
                [](TrustTest&, const std::string& m) {
                  TestSigner other;
                  Publish("game.txt", m);
                  Publish("game.txt.sig", other.SignatureText(m));
                },
                false},
        Refusal{"no_signature", [](TrustTest&, const std::string& m) { Publish("game.txt", m); }, false},
        Refusal{"malformed_hash",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m + "UpFileList 90 old.zip\r\nSHA256 12345\r\n");
                },
                false},
        // A size past what a manifest may state (2^53 bytes).
        Refusal{"size_over_the_limit",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m + "UpFileList 101 p101.zip\r\nSHA256 " + std::string(64, 'a') +
                                                  "\r\nSize 9007199254740993\r\n");
                },
                false, texts::kUpdateFailed, "it holds a value the launcher refuses"},
        Refusal{"entry_without_hash",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m + "UpFileList 101 p101.zip\r\n");
                },
                false},
        // The server replays an older signed release: rollback.
        Refusal{"rollback", [](TrustTest& t, const std::string& m) {
                  SetSeen(1001);
                  t.PublishSigned("game.txt", m);
                },
                false, texts::kUpdateFailed, "Serial is lower than one accepted before"},
        // The server keeps serving the last release it was given: indefinite freeze.
        Refusal{"freeze_expired",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", Replaced(m, Bound(), Bound("game", "1000", -1)));
                },
                false, texts::kUpdateOutOfDate, "it has expired"},
        // An expired release with the highest serial would lock out every
        // later one were it remembered: fast-forward.
        Refusal{"fast_forward_expired",
                [](TrustTest& t, const std::string& m) {
                  SetSeen(1000);
                  t.PublishSigned("game.txt", Replaced(m, Bound(), Bound("game", "4294967295", -1)));
                },
                false, texts::kUpdateOutOfDate, "Serial 4294967295"},
        // The game's signed manifest at the avatar module's address: mix-and-match.
        Refusal{"game_manifest_for_the_avatar_module",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m);
                  t.PublishSigned("avatar.txt", m);
                },
                false, texts::kUpdateFailed, "its Target is the other check's", true},
        // Another game's signed manifest at this game's address: wrong software.
        Refusal{"another_games_manifest", [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", m); },
                false, texts::kUpdateFailed, "its ProgName is not the page's", false, "OtherGame"},
        Refusal{"page_names_this_game", [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", m); },
                true, texts::kUpdateFailed, "", false, "veltogame"},
        // Channels: a beta PC reads the beta manifest beside the main one (whose
        // signature here would fail); a beta manifest at the main address is
        // refused by a main-channel PC.
        Refusal{"beta_pc_takes_the_beta_manifest",
                [](TrustTest& t, const std::string& m) {
                  HKEY user;
                  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Veltoworks", &user), ERROR_SUCCESS);
                  RegSetValueExA(user, "Channel", 0, REG_SZ, reinterpret_cast<const BYTE*>("beta"), 5);
                  RegCloseKey(user);
                  t.PublishSigned("game.beta.txt", m + "Channel beta\r\n");
                  Publish("game.txt", m);
                  Publish("game.txt.sig", "not a signature");
                },
                true},
        Refusal{"beta_manifest_at_the_main_address",
                [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", m + "Channel beta\r\n"); },
                false, texts::kUpdateFailed, "made for the channel beta, not main"},
        // Two-of-n signing: one key's signature is not enough where the machine
        // asks for two; a two-line .sig serves a launcher that knows either key.
        Refusal{"threshold_two_one_signature", [](TrustTest& t, const std::string& m) { t.TwoKeys(m, 2, 1, 2); },
                false, texts::kUpdateFailed, "1 of the configured keys signed it (1 signature lines); 2 required"},
        Refusal{"threshold_two_two_signatures", [](TrustTest& t, const std::string& m) { t.TwoKeys(m, 2, 2, 2); },
                true},
        Refusal{"two_lines_threshold_one", [](TrustTest& t, const std::string& m) { t.TwoKeys(m, 1, 2, 1); }, true},
        // A CDN's address with a signed query, redirected to another such: the
        // signature is asked for at the path with ".sig", the query after it.
        Refusal{"signed_query_address",
                [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", m); }, true,
                texts::kUpdateFailed, "", false, "", "~signed/game.txt?Expires=4102444800&Signature=cGFnZQ"},
        Refusal{"unbound",
                [](TrustTest& t, const std::string& m) { t.PublishSigned("game.txt", Replaced(m, Bound(), "")); },
                false, texts::kUpdateFailed, "Serial, Expires, Target or a file's Size is missing"},
        // A trust setting the launcher cannot use is no reason to trust less.
        Refusal{"manifest_keys_of_another_type",
                [](TrustTest& t, const std::string& m) {
                  const std::string key = t.signer_.PublicKeyLine();
                  HKEY settings;
                  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &settings), ERROR_SUCCESS);
                  RegSetValueExA(settings, "ManifestKeys", 0, REG_SZ, reinterpret_cast<const BYTE*>(key.c_str()),
                                 static_cast<DWORD>(key.size() + 1));
                  RegCloseKey(settings);
                  t.PublishSigned("game.txt", m);
                },
                false, texts::kUpdateFailed, "ManifestKeys is set but unusable: it is of type 1"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.id); });

TEST_F(TrustTest, PatchWithAnotherHashIsDeletedThenTheRightOneInstalls) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string patch = ZipOf({{"a.txt", "101"}});
  Publish("patch/p101.zip", patch);
  const std::string head = "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\n" + Bound() +
                           "MinVer 100\r\nUpBaseURL " + ServerUrl("patch/") + "\r\n";
  PublishSigned("game.txt", head + Hashed("UpFileList 101 p101.zip", patch + "x", patch.size()));
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  ASSERT_TRUE(Answer(run.process.pid(), Formatted(texts::kHashMismatchFormat, ServerUrl("patch/p101.zip")).c_str(),
                     IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_FALSE(FileExists(gameDir_ + "a.txt")) << "nothing unpacked";
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");

  PublishSigned("game.txt", head + Hashed("UpFileList 101 p101.zip", patch));
  LauncherRun again = StartLauncher(BlockWith(ServerUrl("game.txt")));
  EXPECT_EQ(again.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "101");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
}

// A body longer than the publisher's file (an endless one included) is
// refused from its length, before a byte of it is saved.
TEST_F(TrustTest, FileLongerThanItsSizeIsNeverFetched) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string patch = ZipOf({{"a.txt", "101"}});
  Publish("patch/p101.zip", patch + std::string(4096, 'x'));
  PublishSigned("game.txt", "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\n" + Bound() +
                                "MinVer 100\r\nUpBaseURL " + ServerUrl("patch/") + "\r\n" +
                                Hashed("UpFileList 101 p101.zip", patch));
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  ASSERT_TRUE(Answer(run.process.pid(),
                     Formatted(texts::kDownloadFailedFormat, ServerUrl("patch/p101.zip")).c_str(), IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_FALSE(FileExists(gameDir_ + "a.txt")) << "nothing unpacked";
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
  EXPECT_EQ(CountRequests("GET /patch/p101.zip"), 0) << "only its length was asked";
  EXPECT_NE(SupportLog().find("the manifest says " + std::to_string(patch.size())), std::string::npos);
}

TEST_F(TrustTest, SetupProgramWithAnotherHashIsNeverRun) {
  // The browser's start page is the portal already, so the wizard goes on by itself.
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress), sizeof kPortalAddress);
  RegCloseKey(key);
  const std::string setup = ReadFileBytes(BinDir() + "standin_setup.exe");
  Publish("full/setup.exe", setup);
  PublishSigned("game.txt", "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\n" + Bound() +
                                "MinVer 100\r\n" +
                                Hashed("FullDnURL " + ServerUrl("full/setup.exe"), setup + "tampered", setup.size()));
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  ASSERT_TRUE(Answer(run.process.pid(), Formatted(texts::kHashMismatchFormat, ServerUrl("full/setup.exe")).c_str(),
                     IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  EXPECT_FALSE(FileExists(std::string(temp) + "~qztmp\\setup.exe")) << "the mismatching file is deleted";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey)) << "no setup program ran";
}

}  // namespace
}  // namespace qz::e2e
