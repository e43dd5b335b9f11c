// The two modes a page can ask for: the game's location comes from the
// registry path the page names, and it is started with the page's arguments.
#include <gtest/gtest.h>

#include "base/portal.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kLocationKey[] = "SOFTWARE\\Veltoworks\\Location";

void SetLocation(const std::string& value, HKEY root = HKEY_LOCAL_MACHINE, const char* path = kLocationKey) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(root, path, &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

LaunchBlock SetupBlock(const char* mode, const std::string& location, const std::string& fullUrl) {
  LaunchBlock block = BlockWith("");
  SetField(block.RunMode, mode);
  SetField(block.ProgName, "VeltoGame");
  SetField(block.AutoDownURL, location);
  SetField(block.DataCookie, "Mutex=1&Parm=VeltoStart -server 192.0.2.10");
  SetField(block.FullDownURL, fullUrl);
  return block;
}

class SetupModeTest : public testing::Test {
 protected:
  void SetUp() override { gameDir_ = NewTempDir("Velto Game "); }
  void TearDown() override { SetEnvironmentVariableA("QZ_STANDIN_MUTEX", nullptr); }
  std::string gameDir_;
};

TEST_F(SetupModeTest, PresentGameStartsWithPathArgumentsAndStartMutex) {
  const std::string exe = InstallGame(gameDir_);
  SetLocation(gameDir_.substr(0, gameDir_.size() - 1));  // a folder without its backslash
  SetEnvironmentVariableA("QZ_STANDIN_MUTEX", "VeltoStart");
  LauncherRun run = StartLauncher(SetupBlock(
      "Vltw_OnlySetup", "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Path&FileName=game.exe", ""));
  auto game = GameRecord(exe);
  EXPECT_EQ(game["cmdline"], "\"" + exe + "\" VeltoStart -server 192.0.2.10");
  EXPECT_EQ(game["mutex"], "1") << "the start mutex exists while the game starts";
  EXPECT_EQ(game["cwd"] + "\\", gameDir_);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
}

TEST_F(SetupModeTest, RefusedLocationsAreAskedAboutLikeAMissingGameAndNeverStarted) {
  const std::string exe = InstallGame(gameDir_);  // what ..\ would reach
  const std::string rooted = "C:\\qzrooted\\game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", rooted));
  const std::string marker = NewTempDir("cmd") + "ran";
  const std::string ours = "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Path&FileName=";
  const struct {
    const char* id;
    std::string value;  // of our location
    std::string location;
    std::string dataCookie;
    int answer;  // Yes goes on to the wizard
  } cases[] = {
      {"the system's cmd.exe", "",
       "HKey=2&RegPath=SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion&RegName=SystemRoot&FileName="
       "System32\\cmd.exe",
       "Parm=/c mkdir " + marker, IDYES},
      {"..\\ out of the folder", gameDir_ + "sub", ours + "..\\game.exe", "Parm=-x", IDNO},
      {"a rooted FileName", "", ours + rooted, "Parm=-x", IDNO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    SetLocation(c.value);
    LaunchBlock block = SetupBlock("Vltw_OnlySetup", c.location, ServerUrl("setup.exe"));
    SetField(block.DataCookie, c.dataCookie);
    LauncherRun run = StartLauncher(block);
    ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, c.answer));
    if (c.answer == IDYES) {
      HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
      ASSERT_NE(wizard, nullptr);
      Press(wizard, IDCANCEL);
    }
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  }
  Sleep(1000);
  EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "cmd.exe ran";
  EXPECT_FALSE(FileExists(exe + ".record.txt"));
  EXPECT_FALSE(FileExists(rooted + ".record.txt"));
}

TEST_F(SetupModeTest, EmptyLocationGoesStraightToTheWizard) {
  SetLocation("");
  LauncherRun run = StartLauncher(SetupBlock(
      "Vltw_OnlySetup", "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Path", ServerUrl("setup.exe")));
  HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(WindowsOf(run.process.pid()).size(), 1u) << "no question first";
  Press(wizard, IDCANCEL);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
}

TEST_F(SetupModeTest, SetupRunningDialogCanBeCancelled) {
  SetLocation("");
  HKEY key;
  RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key);
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress),
                 sizeof kPortalAddress);
  RegCloseKey(key);
  Publish("setup.exe", ReadFileBytes(BinDir() + "standin_setup.exe"));
  SetEnvironmentVariableA("QZ_SETUP_WAIT_MS", "60000");
  LauncherRun run = StartLauncher(SetupBlock(
      "Vltw_OnlySetup", "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Path", ServerUrl("setup.exe")));
  SetEnvironmentVariableA("QZ_SETUP_WAIT_MS", nullptr);
  HWND setup = WaitForDialogWithControl(run.process.pid(), IDC_SETUP_TEXT1);
  ASSERT_NE(setup, nullptr);
  Sleep(500);
  ASSERT_TRUE(IsWindow(setup)) << "it waits while the setup program runs";
  Press(setup, IDCANCEL);
  ASSERT_TRUE(Answer(run.process.pid(), texts::kCancelQuestion, IDYES));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
}

class LinkSetupTest : public SetupModeTest {
 protected:
  // A stand-in browser: the shell hands web addresses to it.
  std::string RegisterBrowser() {
    const std::string browser = NewTempDir("browser") + "browser.exe";
    CopyProgram("standin_game.exe", browser);
    const std::string command = "\"" + browser + "\" %1";
    HKEY key;
    RegCreateKeyA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", &key);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
    return browser;
  }
};

TEST_F(LinkSetupTest, MissingGameAsksTwiceThenOpensTheSetupAddress) {
  const std::string browser = RegisterBrowser();
  SetLocation(gameDir_ + "game.exe");  // registered, but not there
  // Plain http to this PC is an address the launcher opens too; the stand-in
  // browser is registered for http only.
  const std::string url = ServerUrl("VeltoSetup.exe", ServerListener::PlainHttp);
  LauncherRun run = StartLauncher(SetupBlock(
      "Vltw_LinkSetup", "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Path", url));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES)) << "asked a second time";
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  auto opened = GameRecord(browser);
  EXPECT_NE(opened["args"].find(url), std::string::npos) << opened["args"];
}

TEST_F(LinkSetupTest, OnlySecureWebAddressesAreOpened) {
  const std::string browser = RegisterBrowser();
  const std::string local = NewTempDir("local") + "program.exe";
  CopyProgram("standin_game.exe", local);
  for (const std::string& address :
       {local, "file:///" + local, std::string("notepad.exe"), std::string("http://dl.example/setup.exe")}) {
    SCOPED_TRACE(address);
    LauncherRun run = StartLauncher(SetupBlock(
        "Vltw_LinkSetup", "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=Missing", address));
    ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  }
  Sleep(1000);
  EXPECT_FALSE(FileExists(local + ".record.txt")) << "a local program must never be started";
  EXPECT_FALSE(FileExists(browser + ".record.txt"));
}

// With keys configured a setup mode runs only an installer its publisher
// signed, and reads only the locations the operator listed.
class SetupTrustTest : public SetupModeTest {
 protected:
  void TearDown() override {
    SetManifestKeys({});
    SetProductKeys("GameLocations", {});
    SetEnvironmentVariableA("QZ_SETUP_PROG", nullptr);
    SetEnvironmentVariableA("QZ_SETUP_VERSION", nullptr);
    SetupModeTest::TearDown();
  }
};

TEST_F(SetupTrustTest, OnlySignedInstallersAndListedProgramLocations) {
  TestSigner signer;
  TestSigner other;
  SetManifestKeys({signer.PublicKeyLine()});
  SetProductKeys("GameLocations", {std::string("HKLM\\") + kLocationKey, "HKCU\\Software\\AppDataLow\\Vendor\\Game"});
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress), sizeof kPortalAddress);
  RegCloseKey(key);
  const std::string exe = InstallGame(gameDir_);
  const std::string marker = gameDir_ + "ran";
  ASSERT_TRUE(WriteFileBytes(gameDir_ + "run.cmd", "mkdir \"" + marker + "\"\r\n"));
  SetLocation(gameDir_);
  SetLocation(gameDir_, HKEY_CURRENT_USER, "Software\\AppDataLow\\Vendor\\Game");
  SetLocation(gameDir_, HKEY_LOCAL_MACHINE, "SOFTWARE\\VendorX\\Game");
  const std::string setup = ReadFileBytes(BinDir() + "standin_setup.exe");
  Publish("setup.exe", setup);
  // The stand-in installer records the game: that shows it ran.
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\VeltoGame");
  SetEnvironmentVariableA("QZ_SETUP_PROG", "VeltoGame");
  SetEnvironmentVariableA("QZ_SETUP_VERSION", "100");
  const std::string ours = "HKey=2&RegPath=SOFTWARE\\Veltoworks\\Location&RegName=";
  const struct {
    const char* id;
    std::string location;
    std::string signature;  // published as setup.exe.sig; "" none
    std::wstring says;      // answered with OK, or No to the reinstall question
    bool setupRuns;
    bool brokenList = false;  // GameLocations written as REG_SZ for this run
  } cases[] = {
      {"an unlisted location", "HKey=2&RegPath=SOFTWARE\\VendorX\\Game&RegName=Path&FileName=game.exe", "",
       texts::kReinstallQuestion, false},
      {"AppDataLow, though listed", "HKey=1&RegPath=Software\\AppDataLow\\Vendor\\Game&RegName=Path&FileName=game.exe",
       "", texts::kReinstallQuestion, false},
      {"a batch file", ours + "Path&FileName=run.cmd", "", texts::kReinstallQuestion, false},
      {"GameLocations of another type", ours + "Path&FileName=game.exe", "", texts::kReinstallQuestion, false, true},
      {"an unsigned installer", ours + "Missing", "", texts::kInstallerNotSigned, false},
      {"an installer signed by another key", ours + "Missing", other.SignatureText(setup),
       Formatted(texts::kHashMismatchFormat, ServerUrl("setup.exe")), false},
      {"a signed installer", ours + "Missing", signer.SignatureText(setup), L"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Publish("setup.exe.sig", c.signature);  // an empty file is no signature either
    const int fetched = CountRequests("/setup.exe ");
    const std::string listed = std::string("HKLM\\") + kLocationKey;
    if (c.brokenList) {
      ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "GameLocations", REG_SZ, listed.c_str(),
                                static_cast<DWORD>(listed.size() + 1)),
                ERROR_SUCCESS);
    }
    LauncherRun run = StartLauncher(SetupBlock("Vltw_OnlySetup", c.location, ServerUrl("setup.exe")));
    if (!c.says.empty()) {
      const bool question = c.says == texts::kReinstallQuestion;
      ASSERT_TRUE(Answer(run.process.pid(), c.says.c_str(), question ? IDNO : IDOK));
    }
    const DWORD exit = run.process.Wait(kWait);
    if (!c.setupRuns) {
      EXPECT_EQ(exit, Exit(ExitCode::Stopped));
    }
    if (c.signature.empty()) {
      EXPECT_EQ(CountRequests("/setup.exe "), fetched) << "nothing downloaded";
    }
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\VeltoGame"), c.setupRuns);
    EXPECT_FALSE(FileExists(WorkDir() + "setup.exe")) << "nothing left in the work folder";
    if (c.brokenList) SetProductKeys("GameLocations", {listed, "HKCU\\Software\\AppDataLow\\Vendor\\Game"});
  }
  EXPECT_FALSE(FileExists(exe + ".record.txt")) << "no refused location started the game";
  EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the batch file ran";
  EXPECT_NE(SupportLog().find("is not listed in GameLocations"), std::string::npos);
  EXPECT_NE(SupportLog().find("GameLocations is not a list of locations"), std::string::npos);
}

// A signed archive is unpacked only into the folder of a location that passed
// the rules; for any other there is no folder to unpack into.
TEST_F(SetupTrustTest, SignedArchiveGoesOnlyIntoTheListedLocation) {
  TestSigner signer;
  SetManifestKeys({signer.PublicKeyLine()});
  SetProductKeys("GameLocations", {std::string("HKLM\\") + kLocationKey});
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress), sizeof kPortalAddress);
  RegCloseKey(key);
  const std::string elsewhere = NewTempDir("elsewhere");
  SetLocation(elsewhere, HKEY_LOCAL_MACHINE, "SOFTWARE\\VendorX\\Game");
  SetLocation(gameDir_);
  const std::string zip = ZipOf({{"game.exe", ReadFileBytes(BinDir() + "standin_game.exe")}, {"readme.txt", "signed"}});
  Publish("setup.zip", zip);
  Publish("setup.zip.sig", signer.SignatureText(zip));
  const struct {
    const char* id;
    const char* regPath;
    std::string folder;
    bool unpacks;
  } cases[] = {
      {"an unlisted location", "SOFTWARE\\VendorX\\Game", elsewhere, false},
      {"the listed location", kLocationKey, gameDir_, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    LauncherRun run = StartLauncher(SetupBlock(
        "Vltw_OnlySetup", std::string("HKey=2&RegPath=") + c.regPath + "&RegName=Path&FileName=game.exe",
        ServerUrl("setup.zip")));
    ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
    if (!c.unpacks) {
      ASSERT_TRUE(
          Answer(run.process.pid(), Formatted(texts::kNoDestinationFormat, ServerUrl("setup.zip")).c_str(), IDOK));
      EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    } else {
      run.process.Wait(kWait);
    }
    EXPECT_EQ(FileExists(c.folder + "readme.txt"), c.unpacks);
  }
  EXPECT_FALSE(FileExists(elsewhere + "game.exe"));
}

}  // namespace
}  // namespace qz::e2e
