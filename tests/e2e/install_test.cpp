// Downloads and installations end to end: the worker, the setup program, the
// patches, the avatar module, and what goes wrong on the way.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/portal.h"
#include "base/win_handles.h"
#include "format/delta_archive.h"
#include "tests/common/zip_builder.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"
#include "ui/worker_words.h"
#include "update/disk_space.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const std::string kRecordKey = std::string("SOFTWARE\\Veltoworks\\") + kProg;

void SetStartPage(const std::string& page) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(page.c_str()),
                 static_cast<DWORD>(page.size() + 1));
  RegCloseKey(key);
}

// Seconds from the time the log gives its last line holding `marker` until
// now. Under Xvfb without a window manager Wine waits up to 2 s for each
// window it hides, so a launcher's promptness is measured from its own log.
double SecondsSinceLogLine(const std::string& marker) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string log = SupportLog();
  const std::size_t at = log.rfind(marker);
  if (at == std::string::npos) return 1e9;
  const std::size_t line = log.rfind('\n', at) + 1;  // "YYYY-MM-DD HH:MM:SS.mmm [phase] ..."
  const double stamp = std::stoi(log.substr(line + 11, 2)) * 3600 + std::stoi(log.substr(line + 14, 2)) * 60 +
                       std::stod(log.substr(line + 17, 6));
  return now.wHour * 3600 + now.wMinute * 60 + now.wSecond + now.wMilliseconds / 1000.0 - stamp;
}

class InstallTest : public testing::Test {
 protected:
  void SetUp() override {
    gameDir_ = NewTempDir("Velto Game ");
    setupLog_ = NewTempDir("setuplog") + "setup.log";
    // Lost connections are tried again after 50, 200 and 800 ms instead of 1, 4 and 16 s.
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key) == ERROR_SUCCESS) {
      const DWORD pause = 50;
      RegSetValueExA(key, "RetryDelayMs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pause), sizeof pause);
      RegCloseKey(key);
    }
  }
  void TearDown() override {
    for (const char* name : {"QZ_SETUP_PROG", "QZ_SETUP_VERSION", "QZ_SETUP_DIR", "QZ_SETUP_GAME",
                             "QZ_SETUP_WAIT_MS", "QZ_SETUP_LOG"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
  }
  // The published setup program installs `version` into the game folder.
  void PublishSetup(const std::string& relPath, const char* version, const char* waitMs = "0") {
    Publish(relPath, ReadFileBytes(BinDir() + "standin_setup.exe"));
    SetEnvironmentVariableA("QZ_SETUP_PROG", kProg);
    SetEnvironmentVariableA("QZ_SETUP_VERSION", version);
    SetEnvironmentVariableA("QZ_SETUP_DIR", gameDir_.c_str());
    SetEnvironmentVariableA("QZ_SETUP_GAME", (BinDir() + "standin_game.exe").c_str());
    SetEnvironmentVariableA("QZ_SETUP_WAIT_MS", waitMs);
    SetEnvironmentVariableA("QZ_SETUP_LOG", setupLog_.c_str());
  }
  std::string Manifest(int minVer, std::vector<std::pair<int, std::string>> files,
                       const std::string& fullUrl, const std::string& base = "patch") {
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = minVer;
    plan.fullUrl = fullUrl;
    plan.baseUrl = ServerUrl(base);
    plan.files = std::move(files);
    return PublishManifest("game.txt", plan);
  }
  HWND Wizard(const LauncherRun& run) { return WaitForDialogWithControl(run.process.pid(), IDC_NEXT); }
  // An upgrade to 101 by one file whose SHA-256 the manifest states.
  std::string HashedManifest(const std::string& name, const std::string& bytes, const std::string& base) {
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = 100;
    plan.baseUrl = ServerUrl(base);
    plan.files = {{101, name}};
    Publish("game.txt", ManifestText(plan) + "SHA256 " + Sha256Hex(bytes) + "\r\n");
    return ServerUrl("game.txt");
  }

  std::string gameDir_;
  std::string setupLog_;
};

TEST_F(InstallTest, FullInstallationRunsTheSetupProgramAndStartsTheGame) {
  SetStartPage("http://elsewhere.example/");
  PublishSetup("full/VeltoSetup.exe", "100", "2500");
  MakeDirs(WorkDir());
  WriteFileBytes(WorkDir() + "version.dll", "planted");  // a program started beside it would load it
  const LaunchBlock block = BlockWith(Manifest(0, {}, ServerUrl("full/VeltoSetup.exe")));
  LauncherRun run = StartLauncher(block);
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(IsTickedItem(wizard, IDC_START_PAGE));
  Press(wizard, IDC_NEXT);

  HWND setup = WaitForDialogWithControl(run.process.pid(), IDC_SETUP_TEXT1);
  ASSERT_NE(setup, nullptr) << "the setup-running dialog waits for the program";
  EXPECT_EQ(ItemText(setup, IDC_SETUP_TEXT1), L"この画面が消えると、自動的にゲームが実行されます。");
  EXPECT_EQ(ItemText(setup, IDC_SETUP_TEXT2), L"残りのインストールを続けてください。");
  Screenshot(setup, "setup_running");

  const std::string exe = gameDir_ + "game.exe";
  auto game = GameRecord(exe);
  ASSERT_EQ(game["block"], "ok") << "the installed game is started with the record";
  EXPECT_EQ(ReadFileBytes(exe + ".block"), std::string(reinterpret_cast<const char*>(&block), sizeof block));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));

  // It asks for administrator rights, so the shell started it, from a new
  // folder that holds nothing else it could load.
  auto setupRun = ReadRecord(setupLog_);
  const std::string installer = setupRun["self"];
  const std::string folder = installer.substr(0, installer.find_last_of('\\') + 1);
  EXPECT_EQ(folder.rfind(WorkDir() + "setup-", 0), 0u) << installer;
  EXPECT_EQ(installer.substr(folder.size()), "VeltoSetup.exe");
  EXPECT_EQ(setupRun["beside"], "") << "alone in its folder";
  EXPECT_EQ(setupRun["cwd"] + "\\", folder);
  EXPECT_EQ(setupRun["cmdline"].rfind("\"" + installer + "\"", 0), 0u) << setupRun["cmdline"];
  EXPECT_NE(SupportLog().find("[setup] started through the shell"), std::string::npos);
  EXPECT_FALSE(FileExists(installer)) << "a setup program not kept is deleted";
  EXPECT_FALSE(FileExists(folder)) << "and its folder";
  EXPECT_FALSE(FileExists(WorkDir() + "VeltoSetup.exe"));
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", "Start Page"),
            kPortalAddress);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

TEST_F(InstallTest, SetupProgramSavedByThePlayerIsKept) {
  SetStartPage("http://elsewhere.example/");
  PublishSetup("full/VeltoSetup.exe", "100");
  LauncherRun run = StartLauncher(BlockWith(Manifest(0, {}, ServerUrl("full/VeltoSetup.exe"))));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  Click(wizard, IDC_SAVE_SETUP);
  Press(wizard, IDC_NEXT);
  // The save dialog offers the program's own name; the player picks a folder.
  HWND save = WaitForWindow(run.process.pid(), [&](HWND w) { return w != wizard && ClassOf(w) == L"#32770"; }, kWait);
  ASSERT_NE(save, nullptr);
  Screenshot(save, "save_dialog");
  const std::string kept = NewTempDir("kept") + "VeltoSetup.exe";
  HWND edit = GetDlgItem(save, 0x480);  // the file name box
  if (!edit) edit = GetDlgItem(save, 0x47C);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(TextOf(edit), L"VeltoSetup.exe");
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kept.c_str()), SMTO_ABORTIFHUNG, 5000, &ignored);
  Press(save, IDOK);
  EXPECT_EQ(GameRecord(gameDir_ + "game.exe")["block"], "ok");
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  const std::string ran = ReadRecord(setupLog_)["self"];
  EXPECT_EQ(ran.rfind(WorkDir() + "setup-", 0), 0u) << "a copy ran from a folder of its own, not beside the player's files";
  EXPECT_FALSE(FileExists(ran));
  EXPECT_EQ(ReadFileBytes(kept), ReadFileBytes(BinDir() + "standin_setup.exe")) << "a saved setup program is kept";
  EXPECT_FALSE(FileExists(WorkDir() + "VeltoSetup.exe"));
}

TEST_F(InstallTest, SetupProgramWhoseRightsAreDeclinedRecordsNothing) {
  SetStartPage(kPortalAddress);  // no question on the wizard's first page
  PublishSetup("full/VeltoSetup.exe", "100");
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key), ERROR_SUCCESS);
  const DWORD decline = 1;
  RegSetValueExA(key, "TestDeclineElevation", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&decline), sizeof decline);
  RegCloseKey(key);
  LauncherRun run = StartLauncher(BlockWith(Manifest(0, {}, ServerUrl("full/VeltoSetup.exe"))));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kRightsDeclined, IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Declined));
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TestDeclineElevation");
  EXPECT_FALSE(FileExists(setupLog_)) << "the setup program never ran";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_FALSE(FileExists(gameDir_ + "game.exe.record.txt"));
}

TEST_F(InstallTest, FullInstallationFromAnArchiveUnpacksIntoTheGameFolder) {
  SetStartPage(kPortalAddress);
  WriteInstallRecord(kProg, "", gameDir_, gameDir_ + "game.exe");
  Publish("full/GAME.ZIP", ZipOf({{"game.exe", ReadFileBytes(BinDir() + "standin_game.exe")},
                                  {"data/", ""},
                                  {"data/readme.txt", "welcome"}}));
  LauncherRun run = StartLauncher(BlockWith(Manifest(0, {{100, "unused.zip"}}, ServerUrl("full/GAME.ZIP"))));
  auto game = GameRecord(gameDir_ + "game.exe");
  EXPECT_EQ(game["block"], "ok");
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\readme.txt"), "welcome");
  EXPECT_FALSE(FileExists(WorkDir() + "GAME.ZIP")) << "the archive is deleted after unpacking";
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

TEST_F(InstallTest, FullInstallationFromAnArchiveWithNoGameFolderSaysSo) {
  SetStartPage(kPortalAddress);
  Publish("full/GAME.ZIP", ZipOf({{"game.exe", "never unpacked"}}));
  LauncherRun run = StartLauncher(BlockWith(Manifest(0, {}, ServerUrl("full/GAME.ZIP"))));
  ASSERT_TRUE(Answer(run.process.pid(), Formatted(texts::kNoDestinationFormat, ServerUrl("full/GAME.ZIP")).c_str(), IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(CountRequests("GET /full/GAME.ZIP"), 0) << "nothing is downloaded that could not be unpacked";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
}

TEST_F(InstallTest, PatchLargerThanTheDiskIsRefusedNamingDriveAndSpace) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  WriteFileBytes(gameDir_ + "a.txt", "100");
  // A small archive whose entries say they unpack to 65535 x 4 GiB: more
  // than any disk holds, so the check refuses before a byte is written.
  ziptest::ZipBuilder builder;
  builder.File("a.txt", "101");
  std::uint64_t declared = 3;
  for (int i = 1; i < 65535; ++i) {
    ziptest::ZipEntryPlan e;
    e.name = "big" + std::to_string(i);
    e.method = 0;
    e.uncompressedSize = 0xFFFFFFFFu;
    builder.Add(e);
    declared += 0xFFFFFFFFu;
  }
  Publish("patch/p101.zip", builder.Build());
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "")));
  wchar_t message[1024];
  std::swprintf(message, 1024, texts::kDiskSpaceShortFormat, std::wstring(gameDir_.begin(), gameDir_.begin() + 2).c_str(),
                SpaceText(SpaceWithMargin(declared)).c_str());
  HWND box = WaitForWindow(run.process.pid(), [](HWND w) { return IsMessageBox(w); }, kWait * 2);
  ASSERT_NE(box, nullptr);
  Screenshot(box, "disk_space_short");
  EXPECT_EQ(MessageText(box), message);
  Press(box, IDOK);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "100");
  EXPECT_FALSE(FileExists(gameDir_ + "big1"));
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

TEST_F(InstallTest, UpgradeAppliesPatchesInVersionOrder) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  MakeDirs(gameDir_ + "data");
  WriteFileBytes(gameDir_ + "data\\a.txt", "100");
  SetFileAttributesA((gameDir_ + "data\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  Publish("patch/p101.zip", ZipOf({{"data/a.txt", "101"}, {"data/b.txt", "101"},
                                   {"data/big.bin", ziptest::BinaryLike(3 << 20, 7)}}));
  Publish("patch/p102.zip", ZipOf({{"data/a.txt", "102"}}));
  // Listed newest first; slow enough for the player to untick the automatic start.
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{102, "p102.zip"}, {101, "p101.zip"}}, "",
                                                     "~rate=1500000/patch")));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  const DWORD start = GetTickCount();
  while (!IsShown(wizard, IDC_PHASE) && GetTickCount() - start < kWait) Sleep(10);
  EXPECT_TRUE(IsShown(wizard, IDC_PHASE)) << "an upgrade shows its progress at once";
  EXPECT_EQ(ItemText(wizard, IDC_PHASE), texts::kPhaseUpgrade);
  EXPECT_FALSE(IsShown(wizard, IDC_NEXT));
  Screenshot(wizard, "wizard_progress_upgrade");
  Click(wizard, IDC_AUTO_RUN);  // the player declines the automatic start

  EXPECT_EQ(run.process.Wait(kWait * 2), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\a.txt"), "102");
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\b.txt"), "101");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "102");
  EXPECT_FALSE(FileExists(exe + ".record.txt")) << "the game was not to be started";
  EXPECT_FALSE(FileExists(WorkDir() + "101_p101.zip"));
  const auto log = ServerRequests();
  const auto first101 = std::find_if(log.begin(), log.end(), [](auto& l) { return l.find("p101") != l.npos; });
  const auto first102 = std::find_if(log.begin(), log.end(), [](auto& l) { return l.find("p102") != l.npos; });
  EXPECT_LT(first101 - log.begin(), first102 - log.begin()) << "101 is fetched before 102";
}

TEST_F(InstallTest, DeltaIsTakenOnlyOverTheReleasedBaseAndRemovesInsideTheFolder) {
  const std::string outsideDir = NewTempDir("outside");
  const std::string outside = outsideDir + "keep.txt";
  const std::size_t cut = outsideDir.rfind('\\', outsideDir.size() - 2) + 1;
  const std::string climb = "../" + outsideDir.substr(cut, outsideDir.size() - cut - 1) + "/keep.txt";
  const struct {
    const char* id;
    const char* base;     // data\a.txt on the player's disk
    std::string removal;  // what the release removes
    bool deltaTaken;
    bool removed;
    const char* says = nullptr;  // in the support log besides
    bool futureIndex = false;    // an index version this launcher does not know
  } cases[] = {
      {"delta applied, old file removed", "100 a", "data/gone.dll", true, true},
      {"damaged base: whole-file patch", "damaged", "data/gone.dll", false, true},
      {"removal climbing out: refused, nothing removed", "100 a", climb, false, false},
      // A name the release writes is never removed, in whatever case it is listed.
      // Fullwidth Ａ.txt listed, ａ.txt written (code page 932): only the file
      // system's own case table sees one file.
      {"delta writes what it lists in another case", "100 a", "data/\x82\x60.txt", true, false,
       ".txt: kept, the release brings it"},
      {"patch writes what it lists in another case", "damaged", "Data/New.txt", false, false,
       "New.txt: kept, the release brings it"},
      {"unknown index version: whole-file patch", "100 a", "data/gone.dll", false, true,
       "its index version 3 is not known", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    MakeDirs(gameDir_ + "data");
    WriteFileBytes(gameDir_ + "data\\a.txt", c.base);
    WriteFileBytes(gameDir_ + "data\\gone.dll", "old");
    WriteFileBytes(outside, "mine");
    DeleteFileA((gameDir_ + "data\\new.txt").c_str());
    const int wholeFetched = CountRequests("p101.zip");
    const std::size_t logBefore = SupportLog().size();
    const std::string wide = "data/\x82\x81.txt";  // fullwidth ａ.txt
    DeleteFileA((gameDir_ + "data\\\x82\x81.txt").c_str());
    std::string delta = DeltaArchiveOf(
        {{"data/a.txt", "100 a", "101 a"}, {"data/new.txt", "", "new"}, {wide, "", "w"}}, {c.removal});
    if (c.futureIndex) delta.replace(0, 10, "QZDELTA 3\n");
    Publish("patch/p101.qzd", delta);
    Publish("patch/p101.zip", ZipOf({{"data/a.txt", "101 a"}, {"data/new.txt", "new"}, {wide, "w"},
                                     {kRemovedListName, RemovedListText({c.removal})}}));
    Publish("game.txt", ManifestText({kProg, 100, "", ServerUrl("patch"), {{101, "p101.zip"}}}) +
                            DeltaLines(101, "p101.qzd", delta));
    LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
    EXPECT_EQ(run.process.Wait(kWait * 2), Exit(ExitCode::Done));
    EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\a.txt"), "101 a");
    EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\new.txt"), "new");
    EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\\x82\x81.txt"), "w");
    EXPECT_FALSE(FileExists(gameDir_ + "data\\a.txt.qzdnew"));
    EXPECT_FALSE(FileExists(gameDir_ + kRemovedListName)) << "the list is acted on, not unpacked";
    EXPECT_EQ(FileExists(gameDir_ + "data\\gone.dll"), !c.removed || c.removal != "data/gone.dll");
    EXPECT_EQ(ReadFileBytes(outside), "mine");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
    std::string log = SupportLog();
    if (log.size() >= logBefore) log = log.substr(logBefore);
    EXPECT_EQ(CountRequests("p101.zip") > wholeFetched, !c.deltaTaken);
    EXPECT_NE(log.find(c.deltaTaken ? "delta applied" : "the whole-file patch instead"), std::string::npos) << log;
    if (!c.removed && !c.says) {
      EXPECT_NE(log.find("[remove] refused"), std::string::npos) << log;
    }
    if (c.says) {
      EXPECT_NE(log.find(c.says), std::string::npos) << log;
    }
  }
}

TEST_F(InstallTest, PatchOfMoreThan65535EntriesIsUnpackedWhole) {
  // Past 16 bits of entries the archive is zip64; every entry lands.
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const int count = 65600;
  ziptest::ZipBuilder builder;
  for (int i = 0; i < count; ++i) builder.File("many/" + std::to_string(i % 40) + "/" + std::to_string(i), "", 0);
  builder.File("many/last.txt", "101");
  Publish("patch/p101.zip", builder.Build());
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "")));
  EXPECT_EQ(run.process.Wait(kWait * 8), 1u);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
  EXPECT_EQ(ReadFileBytes(gameDir_ + "many\\last.txt"), "101");
  for (const char* name : {"many\\0\\0", "many\\16\\65536", "many\\39\\65599"}) {
    EXPECT_TRUE(FileExists(gameDir_ + name)) << name;
  }
}

TEST_F(InstallTest, InstallationOfAnOlderReleaseIsPatchedInASecondPass) {
  SetStartPage(kPortalAddress);
  PublishSetup("full/VeltoSetup.exe", "101");
  Publish("patch/p102.zip", ZipOf({{"data/v.txt", "102"}}));
  LauncherRun run = StartLauncher(
      BlockWith(Manifest(100, {{101, "p101.zip"}, {102, "p102.zip"}}, ServerUrl("full/VeltoSetup.exe"))));
  EXPECT_EQ(run.process.Wait(kWait * 2), Exit(ExitCode::SecondPass));
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "102");
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\v.txt"), "102");
  EXPECT_EQ(GameRecord(gameDir_ + "game.exe", 0)["block"], "ok");
}

TEST_F(InstallTest, CountLineShowsFilesAndMegabytes) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  for (const char* name : {"p1.bin", "p2.bin", "p3.bin"}) Publish(std::string("patch/") + name, std::string(1 << 20, 'x'));
  LauncherRun run = StartLauncher(
      BlockWith(Manifest(100, {{101, "p1.bin"}, {102, "p2.bin"}, {103, "p3.bin"}}, "", "~delay=700/patch")));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  bool sawStart = false, sawEnd = false;
  std::wstring last;
  while (IsWindow(wizard)) {
    const std::wstring text = ItemText(wizard, IDC_COUNT);
    if (text == L"ダウンロード中... 1/3 files (0.00/3.00 MB)") sawStart = true;
    if (text.rfind(L"ダウンロード中... 3/3 files (", 0) == 0 && text.find(L"/3.00 MB)") != std::wstring::npos) {
      sawEnd = true;
    }
    if (!text.empty()) last = text;
  }
  EXPECT_TRUE(sawStart);
  EXPECT_TRUE(sawEnd) << "last seen: " << std::string(last.begin(), last.end());
  EXPECT_EQ(last, L"ダウンロード中... 3/3 files (3.00/3.00 MB)") << "the page ends on the download's last figures";
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(WorkDir() + "103_p3.bin").size(), 1u << 20) << "plain files stay downloaded";
}

TEST_F(InstallTest, FileMissingOnTheServerIsNamedAndNothingIsDownloaded) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  Publish("patch/p101.zip", ZipOf({{"a.txt", "101"}}));
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}, {102, "p102.zip"}}, "")));
  ASSERT_TRUE(Answer(run.process.pid(), Formatted(texts::kFileMissingFormat, ServerUrl("patch/p102.zip")).c_str(), IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(CountRequests("p101.zip"), 1) << "only the size check touched the first file";
  EXPECT_FALSE(FileExists(WorkDir() + "101_p101.zip"));
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

TEST_F(InstallTest, ServerThatChangesBetweenThePassesFailsTheWizard) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  Publish("patch/p101.zip", ZipOf({{"a.txt", "101"}}));
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "", "~vanish-after=1/patch")));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_FALSE(FileExists(gameDir_ + "a.txt"));
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

// (A body longer than its length never reaches us: the HTTP layer stops at
// the announced length.) A server that starts the file over on every request
// and cuts it short at the same byte brings nothing new after its first try.
TEST_F(InstallTest, TruncatedDownloadIsNotInstalled) {
  for (const char* base : {"~short=5000/patch", "~short=1/patch", "~norange/~short=5000/patch"}) {
    SCOPED_TRACE(base);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    Publish("patch/p101.zip", ZipOf({{"a.txt", "101"}, {"b.bin", ziptest::BinaryLike(100000, 3)}}));
    // A signed address's token stays out of the log.
    LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "", base) + "?token=s3cret#x"));
    ASSERT_TRUE(Answer(run.process.pid(),
                       Formatted(texts::kDownloadFailedFormat, ServerUrl(std::string(base) + "/p101.zip")).c_str(),
                       IDOK));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    EXPECT_FALSE(FileExists(gameDir_ + "a.txt")) << "nothing unpacked";
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
    EXPECT_EQ(CountRequests(std::string("GET /") + base + "/p101.zip"), 5)
        << "tried again at once after bytes came, then three times after a pause\n" << SupportLog();
    // The log names what failed and how, for whoever has to find out why.
    const std::string log = SupportLog();
    EXPECT_NE(log.find("GET " + ServerUrl(std::string(base) + "/p101.zip") + ": status 200"), std::string::npos) << log;
    EXPECT_NE(log.find("body ended at byte"), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  }
}

// A download lost on the way goes on from the bytes already saved; a server
// that cannot or will not resume it gets the whole file again; either way the
// bytes and their SHA-256 are the published ones. A saved validator that no
// server could have sent is dropped with its part, never sent back.
TEST_F(InstallTest, LostDownloadIsResumedOrStartedOver) {
  const std::string body = ziptest::BinaryLike(3 << 20, 5);
  struct Case {
    const char* base;
    int ranged;  // requests that asked for the rest of the file and got it
    int whole;   // GETs answered with the whole file
    const char* plantedTag = nullptr;  // beside 1 MB of the file from an earlier run
  } cases[] = {
      {"~cut=1000000,2500000/patch", 2, 1},
      {"~drop=1200000/patch", 2, 1},
      {"~norange/~cut=1000000/patch", 0, 2},
      {"~etag-changes/~cut=1000000/patch", 0, 2},
      {"~endless/patch", 0, 1},  // zeros after the body are never read
      {"patch", 0, 1, "\"x\"\r\nRange: bytes=0-0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    const std::string name = std::string("r") + std::to_string(&c - cases) + ".bin";
    Publish("patch/" + name, body);
    if (c.plantedTag) {
      MakeDirs(WorkDir());
      WriteFileBytes(WorkDir() + "101_" + name + ".part", body.substr(0, 1000000));
      WriteFileBytes(WorkDir() + "101_" + name + ".part.tag",
                     ServerUrl(std::string(c.base) + "/" + name) + "\n" + c.plantedTag);
    }
    LauncherRun run = StartLauncher(BlockWith(HashedManifest(name, body, c.base)));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
    EXPECT_EQ(ReadFileBytes(WorkDir() + "101_" + name), body);
    EXPECT_FALSE(FileExists(WorkDir() + "101_" + name + ".part"));
    EXPECT_EQ(CountRequests(name + " 206"), c.ranged);
    EXPECT_EQ(CountRequests("GET /" + std::string(c.base) + "/" + name + " 200"), c.whole);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
    if (c.plantedTag) {
      EXPECT_NE(SupportLog().find("not one a server sends"), std::string::npos);
    }
  }
}

// A split archive is refused as a whole: its other volumes were never
// downloaded, and one planted beside it is never opened.
TEST_F(InstallTest, CorruptPatchArchiveIsReportedAndNotRecorded) {
  ziptest::ZipEntryPlan bad;
  bad.name = "a.txt";
  bad.data = ziptest::TextLike(5000, 1);
  bad.compressed = std::string(200, '\xff');  // not a deflate stream
  const std::vector<std::string> volumes = ziptest::ZipBuilder().File("a.txt", "101").File(
      "b.bin", ziptest::BinaryLike(9000, 2), 0).BuildSplit(4096);
  const struct {
    const char* defect;
    std::string archive;
    const wchar_t* format;
  } cases[] = {
      {"not a deflate stream", ziptest::ZipBuilder().Add(bad).Build(), texts::kExtractFailedFormat},
      {"last volume of a split archive", volumes.back(), texts::kSplitArchiveFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.defect);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    Publish("patch/p101.zip", c.archive);
    WriteFileBytes(WorkDir() + "101_p101.000", volumes.front());
    LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "")));
    ASSERT_TRUE(Answer(run.process.pid(), Formatted(c.format, WorkDir() + "101_p101.zip").c_str(), IDOK));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    EXPECT_FALSE(FileExists(gameDir_ + "a.txt"));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
  }
}

// A server that trickles its body, each byte in time for the receive
// timeout, stalls: each try ends, then the download fails as any other.
TEST_F(InstallTest, TricklingServerStallsAndTheDownloadFails) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key), ERROR_SUCCESS);
  const DWORD window = 1500;  // a minute's window, shortened
  RegSetValueExA(key, "StallWindowMs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&window), sizeof window);
  RegCloseKey(key);
  const std::string base = "~trickle=200/patch";
  // A delta archive is judged by the same rule as a whole-file patch.
  for (const bool delta : {false, true}) {
    SCOPED_TRACE(delta ? "delta" : "whole file");
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    std::string noise(4000, 't');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);
    const std::string archive = DeltaArchiveOf({{"data/n.bin", "", noise}}, {});
    const std::string name = delta ? "p101.qzd" : "p101.bin";
    Publish("patch/p101.bin", std::string(4000, 't'));
    Publish("patch/p101.qzd", archive);
    const int before = CountRequests("GET /" + base + "/" + name);
    Publish("game.txt", ManifestText({kProg, 100, "", ServerUrl(base), {{101, "p101.bin"}}}) +
                            (delta ? DeltaLines(101, "p101.qzd", archive) : std::string()));
    LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
    ASSERT_TRUE(Answer(run.process.pid(),
                       Formatted(texts::kDownloadFailedFormat, ServerUrl(base + "/" + name)).c_str(), IDOK))
        << SupportLog();
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    EXPECT_EQ(CountRequests("GET /" + base + "/" + name) - before, 4) << "a try and one after each pause";
    EXPECT_NE(SupportLog().find("stalled: under 1024 bytes a second"), std::string::npos) << SupportLog();
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
  }
}

// The machine's rate cap holds the download back, and the time left shows
// only once the rate has been steady for the window.
TEST_F(InstallTest, RateCapHoldsAndTimeLeftShowsOnceTheRateIsSteady) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key), ERROR_SUCCESS);
  const DWORD capKBps = 256;
  RegSetValueExA(key, "RateLimitKBps", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&capKBps), sizeof capKBps);
  RegCloseKey(key);
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  std::string noise(3u << 20, '\0');  // 12 s at the cap, as good as incompressible
  std::uint32_t x = 2463534242u;
  for (char& c : noise) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  const std::string archive = ZipOf({{"data/big.bin", noise}});
  const DWORD bytes = static_cast<DWORD>(archive.size());
  Publish("patch/p101.zip", archive);
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "")));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  const DWORD started = GetTickCount();
  bool absentFirst = false;
  std::wstring shown;
  while (IsWindow(wizard) && GetTickCount() - started < 60000) {
    const std::wstring left = ItemText(wizard, IDC_TIME_LEFT);
    if (GetTickCount() - started < 3000 && left.empty()) absentFirst = true;
    if (!left.empty()) shown = left;
    Sleep(200);
  }
  const DWORD took = GetTickCount() - started;
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done)) << SupportLog();
  EXPECT_TRUE(absentFirst) << "no time left before the rate is steady";
  EXPECT_EQ(shown.rfind(L"残り時間: 約 ", 0), 0u) << "the time left once it is";
  // A lower bound only: a slow machine takes longer, never less.
  EXPECT_GE(took, bytes / (capKBps * 1024 * 11 / 10) * 1000) << "faster than the cap allows";
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\big.bin"), noise);
}

TEST_F(InstallTest, CancelAnsweredNoGoesOnAndYesStopsPromptly) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  Publish("patch/p101.bin", std::string(16 << 20, 'y'));
  LauncherRun run =
      StartLauncher(BlockWith(Manifest(100, {{101, "p101.bin"}}, "", "~rate=500000/patch")));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  Press(wizard, IDCANCEL);
  ASSERT_TRUE(Answer(run.process.pid(), texts::kCancelQuestion, IDNO));
  Sleep(1000);
  ASSERT_TRUE(IsWindow(wizard)) << "No keeps the download going";
  Press(wizard, IDCANCEL);
  HWND box = WaitForWindow(run.process.pid(), [](HWND w) { return IsMessageBox(w); }, kWait);
  ASSERT_NE(box, nullptr);
  Screenshot(box, "cancel_question");
  const DWORD pressed = GetTickCount();
  Press(box, IDYES);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_LT(GetTickCount() - pressed, 5000u) << "the stop is prompt";
  const std::string partial = ReadFileBytes(WorkDir() + "101_p101.bin.part");
  EXPECT_GT(partial.size(), 0u) << "the partial file stays, to be resumed";
  EXPECT_LT(partial.size(), 16u << 20);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

TEST_F(InstallTest, PartialFileOfAnEarlierRunIsResumed) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::string body = ziptest::BinaryLike(3 << 20, 6);
  Publish("patch/e.bin", body);
  // Cut at the same byte again and again: the first run gives up after three
  // tries that bring nothing new, with 1 MB saved.
  const char base[] = "~cut=1000000,1000000,1000000,1000000,1000000/patch";
  LauncherRun first = StartLauncher(BlockWith(HashedManifest("e.bin", body, base)));
  ASSERT_TRUE(Answer(first.process.pid(),
                     Formatted(texts::kDownloadFailedFormat, ServerUrl(std::string(base) + "/e.bin")).c_str(), IDOK));
  EXPECT_EQ(first.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(ReadFileBytes(WorkDir() + "101_e.bin.part").size(), 1000000u);

  LauncherRun second = StartLauncher(BlockWith(HashedManifest("e.bin", body, base)));
  EXPECT_EQ(second.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(WorkDir() + "101_e.bin"), body);
  const auto log = ServerRequests();
  EXPECT_NE(log.back().find("GET /" + std::string(base) + "/e.bin 206"), std::string::npos)
      << "the second run asked only for the rest";
  EXPECT_NE(SupportLog().find("resumed at byte 1000000"), std::string::npos);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
}

// A file past 4 GiB, cut twice beyond 4 GiB: its length, each resume's Range
// and its hash are 64-bit all the way, and the hash goes on across the cuts
// instead of reading back what is saved. The server's copy is a sparse file of
// zeros; the launcher's is written whole (and deleted at the end).
TEST_F(InstallTest, FilePastFourGiBIsCompletedByResumingAfterCuts) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  const std::uint64_t size = (4ull << 30) + (64u << 20);
  const std::string zerosSha256 = "f8c6a4d9640d5154fd53d271e811269c35a3c6853ab8a72426acd23a280f965d";
  Publish("patch/big.bin", "");
  {
    FileHandle body(CreateFileA((ServerRoot() + "patch\\big.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(body && SetFilePointerEx(body.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(body.get()));
  }
  const std::string base = "~cut=4303355904,4336910336/patch";
  ManifestPlan plan;
  plan.progName = kProg;
  plan.minVer = 100;
  plan.baseUrl = ServerUrl(base);
  plan.files = {{101, "big.bin"}};
  Publish("game.txt", ManifestText(plan) + "SHA256 " + zerosSha256 + "\r\n");
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  EXPECT_EQ(run.process.Wait(10 * kWait), Exit(ExitCode::Done)) << SupportLog();
  const std::string saved = WorkDir() + "101_big.bin";
  WIN32_FILE_ATTRIBUTE_DATA info{};
  ASSERT_TRUE(GetFileAttributesExA(saved.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, size);
  DeleteFileA(saved.c_str());
  DeleteFileA((ServerRoot() + "patch\\big.bin").c_str());
  const std::string log = SupportLog();
  for (const char* line : {"resumed at byte 4303355904", "resumed at byte 4336910336",
                           "the hash goes on from byte 4336910336", "SHA-256 matches"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
}

// Mirrors: the manifest's own host is down, so each file comes from the
// first mirror that serves it right. A mirror that fails is passed over for
// the run; the next goes on from the saved bytes when the SHA-256 guards the
// splice, and the log names who served what and why the others were dropped.
// When every host fails, the player sees the message one host would give.
TEST_F(InstallTest, MirrorsStandInForHostsThatFail) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key), ERROR_SUCCESS);
  const DWORD window = 1500;  // a minute's stall window, shortened
  RegSetValueExA(key, "StallWindowMs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&window), sizeof window);
  RegCloseKey(key);
  const std::string body = ziptest::BinaryLike(3 << 20, 7);
  const std::string dead = "http://127.0.0.1:1/";
  const struct {
    const char* id;
    const char* mirror;  // the first mirror; the second serves the file right
    const char* dropped;  // why the first mirror was passed over
    const char* resumed;  // where the second mirror went on from, if anywhere
  } cases[] = {
      {"dead first mirror", nullptr, nullptr, nullptr},
      {"wrong bytes", "~garble/", "SHA-256 differs", nullptr},
      {"stall mid-file", "~stall-after=1000000/", "stalled", "that another host sent; the SHA-256 guards the splice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    const std::string name = std::string("m") + std::to_string(&c - cases) + ".bin";
    Publish("patch/" + name, body);
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = 100;
    plan.baseUrl = dead + "patch";
    plan.files = {{101, name}};
    const std::string first = c.mirror ? ServerUrl(c.mirror) : dead + "mirror/";
    Publish("game.txt", ManifestText(plan) + "SHA256 " + Sha256Hex(body) + "\r\nMirrorURL " + first +
                            "\r\nMirrorURL " + ServerUrl("") + "\r\n");
    LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
    // A stalled read ends when Wine's receive wait does, not at once.
    EXPECT_EQ(run.process.Wait(4 * kWait), Exit(ExitCode::Done)) << SupportLog();
    EXPECT_EQ(ReadFileBytes(WorkDir() + "101_" + name), body);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
    const std::string log = SupportLog();
    EXPECT_NE(log.find("the manifest's host passed over for the rest of the run"), std::string::npos) << log;
    EXPECT_NE(log.find("served by mirror " + ServerUrl("")), std::string::npos) << log;
    if (c.dropped) {
      EXPECT_NE(log.find("mirror " + first + " passed over for the rest of the run: " + c.dropped), std::string::npos)
          << log;
    }
    if (c.resumed) {
      EXPECT_NE(log.find(c.resumed), std::string::npos) << log;
    }
  }
  // Every host down: the message of the manifest's own address.
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  ManifestPlan plan;
  plan.progName = kProg;
  plan.minVer = 100;
  plan.baseUrl = dead + "patch";
  plan.files = {{101, "m9.bin"}};
  Publish("game.txt", ManifestText(plan) + "MirrorURL " + ServerUrl("~status=404/") + "\r\n");
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
  ASSERT_TRUE(Answer(run.process.pid(), Formatted(texts::kFileMissingFormat, dead + "patch/m9.bin").c_str(), IDOK))
      << SupportLog();
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
}

// A staged release: a PC inside the share takes the version, one outside
// stays on the one before; a halt (0 %) keeps each where it is.
TEST_F(InstallTest, RolloutDecidesWhichPcsTakeTheNewestVersion) {
  const std::string body = ziptest::BinaryLike(20000, 8);
  Publish("patch/r101.bin", body);
  const struct {
    const char* id;
    DWORD bucket;
    const char* installed;
    int percent;
    const char* after;
  } cases[] = {
      {"outside the share", 9999, "100", 50, "100"},
      {"inside the share", 0, "100", 50, "101"},
      {"halted, not updated yet", 0, "100", 0, "100"},
      {"halted, updated before", 0, "101", 0, "101"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key), ERROR_SUCCESS);
    RegSetValueExA(key, "RolloutBucket", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.bucket), sizeof c.bucket);
    RegCloseKey(key);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, c.installed, gameDir_, exe);
    Publish("game.txt", ManifestText({kProg, 100, "", ServerUrl("patch"), {{101, "r101.bin"}}}) + "SHA256 " +
                            Sha256Hex(body) + "\r\nRollout 101 " + std::to_string(c.percent) + "\r\n");
    LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt")));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done)) << SupportLog();
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), c.after);
  }
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "RolloutBucket");
}

// Cancel -> Yes ends the launcher within 2 s whatever the download waits on.
TEST_F(InstallTest, CancelYesEndsTheLauncherPromptlyInEveryPhase) {
  Publish("patch/p101.bin", std::string(4 << 20, 'w'));
  struct Case {
    const char* phase;
    std::string base;
  } cases[] = {
      {"connecting to a server that never answers", ServerUrl("patch", ServerListener::Silent)},
      {"HEAD never answered", ServerUrl("~hang/patch")},
      {"GET after a refused HEAD, never answered", ServerUrl("~nohead/~hang/patch")},
      {"reading a trickle", ServerUrl("~rate=2000/patch")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phase);
    const std::string exe = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe);
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = 100;
    plan.baseUrl = c.base;
    plan.files = {{101, "p101.bin"}};
    LauncherRun run = StartLauncher(BlockWith(PublishManifest("game.txt", plan)));
    HWND wizard = Wizard(run);
    ASSERT_NE(wizard, nullptr);
    Sleep(1500);  // the worker is waiting on the network by now
    Press(wizard, IDCANCEL);
    HWND box = WaitForWindow(run.process.pid(), [](HWND w) { return IsMessageBox(w); }, kWait);
    ASSERT_NE(box, nullptr);
    const DWORD pressed = GetTickCount();
    Press(box, IDYES);
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    const DWORD ended = GetTickCount();
    EXPECT_LT(SecondsSinceLogLine("[wizard] closing"), 2.0) << "the launcher ends within 2 s of its stop\n"
                                                            << SupportLog();
    EXPECT_LT(ended - pressed, 6000u) << "including Wine's window waits";
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
  }
}

TEST_F(InstallTest, CancelYesWhileTheSetupProgramRunsEndsTheLauncherPromptly) {
  SetStartPage(kPortalAddress);
  PublishSetup("full/VeltoSetup.exe", "100", "20000");
  LauncherRun run = StartLauncher(BlockWith(Manifest(0, {}, ServerUrl("full/VeltoSetup.exe"))));
  HWND setup = WaitForDialogWithControl(run.process.pid(), IDC_SETUP_TEXT1);
  ASSERT_NE(setup, nullptr);
  Sleep(1500);  // the setup program runs by now
  Press(setup, IDCANCEL);
  ASSERT_TRUE(Answer(run.process.pid(), texts::kCancelQuestion, IDYES));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_LT(SecondsSinceLogLine("[setup] not started or cancelled"), 2.0) << SupportLog();
}

TEST_F(InstallTest, CancelAnsweredNoLetsTheDownloadComplete) {
  const std::string exe = InstallGame(gameDir_);
  WriteInstallRecord(kProg, "100", gameDir_, exe);
  Publish("patch/p101.zip", ZipOf({{"data/c.txt", "101"}, {"pad.bin", ziptest::BinaryLike(2 << 20, 9)}}));
  // A server that refuses HEAD: the sizes are asked for with GET instead.
  LauncherRun run =
      StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}}, "", "~nohead/~rate=1000000/patch")));
  HWND wizard = Wizard(run);
  ASSERT_NE(wizard, nullptr);
  Click(wizard, IDC_AUTO_RUN);
  Press(wizard, IDCANCEL);
  ASSERT_TRUE(Answer(run.process.pid(), texts::kCancelQuestion, IDNO));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "data\\c.txt"), "101");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
}

// ---- the avatar module ----

class AvatarTest : public InstallTest {
 protected:
  void InstallModule(const char* version, const std::string& contents) {
    MakeDirs(CommonFilesDir() + "Veltoworks\\Avatar");
    WriteFileBytes(AvatarModulePath(), contents);
    WriteInstallRecord("Avatar", version, "", "");
  }
  // Runs the check alone (no game address) and returns the exit code.
  DWORD RunCheck(const std::string& commonUrl) {
    LauncherRun run = StartLauncher(BlockWith("", commonUrl));
    return run.process.Wait(kWait);
  }
};

TEST_F(AvatarTest, NoRecordInstallsTheFullArchiveAndRecordsTheHighestVersion) {
  const std::string url = PublishAvatarManifest({{101, "a101.zip"}, {102, "a102.zip"}});
  EXPECT_EQ(RunCheck(url), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(AvatarModulePath()), "module full");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\Avatar", "Version"), "102");
}

TEST_F(AvatarTest, EmptyModuleMeansFullInstallation) {
  InstallModule("102", "");
  EXPECT_EQ(RunCheck(PublishAvatarManifest({{101, "a101.zip"}, {102, "a102.zip"}})), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(AvatarModulePath()), "module full");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\Avatar", "Version"), "102");
}

TEST_F(AvatarTest, RecordAboveEveryListedVersionCountsAsCurrent) {
  // The newest known release is the recorded one: nothing to fetch.
  InstallModule("200", "module 200");
  EXPECT_EQ(RunCheck(PublishAvatarManifest({{101, "a101.zip"}, {102, "a102.zip"}})), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(AvatarModulePath()), "module 200");
  EXPECT_EQ(CountRequests("a10"), 0);
}

TEST_F(AvatarTest, PatchesBringTheModuleUpToDateAndCurrentMeansNothing) {
  InstallModule("100", "module 100");
  const std::string url = PublishAvatarManifest({{102, "a102.zip"}, {101, "a101.zip"}});
  EXPECT_EQ(RunCheck(url), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(AvatarModulePath()), "module 102");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\Avatar", "Version"), "102");
  const int before = CountRequests("a10");
  EXPECT_EQ(RunCheck(url), Exit(ExitCode::Done));
  EXPECT_EQ(CountRequests("a10"), before) << "a current module downloads nothing";
}

TEST_F(AvatarTest, UnreachableManifestStopsTheLauncher) {
  LauncherRun run = StartLauncher(BlockWith(ServerUrl("game.txt"), "http://127.0.0.1:1/avatar.txt"));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kUpdateFailed, IDOK));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(CountRequests("game.txt"), 0) << "the game is not looked at";
}

}  // namespace
}  // namespace qz::e2e
