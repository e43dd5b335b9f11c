// What the launcher accepts once the machine names the publishers' keys: a
// manifest signed by one of them, and files whose SHA-256 is the one the
// manifest states. Everything else is refused before it is run, unpacked or
// recorded.
#include <gtest/gtest.h>

#include <functional>

#include "base/portal.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const std::string kRecordKey = std::string("SOFTWARE\\Veltoworks\\") + kProg;

class TrustTest : public testing::Test {
 public:
  void SetUp() override {
    SetManifestKeys({signer_.PublicKeyLine()});
    gameDir_ = NewTempDir("Velto Game ");
  }
  void TearDown() override { SetManifestKeys({}); }
  // Publishes the manifest and, unless told otherwise, its signature.
  std::string PublishSigned(const std::string& relPath, const std::string& text) {
    Publish(relPath, text);
    Publish(relPath + ".sig", signer_.SignatureText(text));
    return ServerUrl(relPath);
  }
  std::string Hashed(const std::string& entry, const std::string& bytes) {
    return entry + "\r\nSHA256 " + Sha256Hex(bytes) + "\r\n";
  }
  TestSigner signer_;
  std::string gameDir_;
};

// Every way a manifest fails the check looks the same to the player: the
// update could not be fetched, and nothing starts.
struct Refusal {
  const char* id;
  // Publishes game.txt (and what goes with it) for a current game.
  std::function<void(TrustTest&, const std::string& manifest)> publish;
  bool starts;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.id; }

class ManifestRefusal : public TrustTest, public testing::WithParamInterface<Refusal> {};

TEST_P(ManifestRefusal, ShowsTheUpdateFailureAndStartsNothing) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string manifest = "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\nMinVer 100\r\n" +
                               Hashed("FullDnURL " + ServerUrl("full/setup.exe"), "setup") +
                               "UpBaseURL " + ServerUrl("patch/") + "\r\n";
  GetParam().publish(*this, manifest);
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  if (GetParam().starts) {
    EXPECT_FALSE(GameRecord(exe).empty()) << "a current game with a good signature starts";
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
    return;
  }
  ASSERT_TRUE(Answer(run.process.pid(), texts::kUpdateFailed, IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_TRUE(GameRecord(exe, 1000).empty());
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
        Refusal{"entry_without_hash",
                [](TrustTest& t, const std::string& m) {
                  t.PublishSigned("game.txt", m + "UpFileList 101 p101.zip\r\n");
                },
                false}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.id); });

TEST_F(TrustTest, PatchWithAnotherHashIsDeletedThenTheRightOneInstalls) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string patch = ZipOf({{"a.txt", "101"}});
  Publish("patch/p101.zip", patch);
  const std::string head = "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\nMinVer 100\r\nUpBaseURL " +
                           ServerUrl("patch/") + "\r\n";
  PublishSigned("game.txt", head + Hashed("UpFileList 101 p101.zip", patch + "x"));
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

TEST_F(TrustTest, SetupProgramWithAnotherHashIsNeverRun) {
  // The browser's start page is the portal already, so the wizard goes on by itself.
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress), sizeof kPortalAddress);
  RegCloseKey(key);
  const std::string setup = ReadFileBytes(BinDir() + "standin_setup.exe");
  Publish("full/setup.exe", setup);
  PublishSigned("game.txt", "[VLTWUpdateFile]\r\nProgName " + std::string(kProg) + "\r\nMinVer 100\r\n" +
                                Hashed("FullDnURL " + ServerUrl("full/setup.exe"), setup + "tampered"));
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
