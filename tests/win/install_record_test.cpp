// The installation record, the setup modes' game location, the presence test
// and the browser start page, against a scratch registry.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <memory>

#include "base/folders.h"
#include "launcher/launcher_app.h"
#include "tests/winsupport/launcher_app_peer.h"
#include "base/portal.h"
#include "base/registry_text.h"
#include "base/registry_view.h"
#include "base/settings.h"
#include "base/access_list.h"
#include "base/private_folder.h"
#include "tests/winsupport/test_signer.h"
#include "update/service_facts.h"
#include "tests/win/scratch_registry.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

const char kRecord[] = "SOFTWARE\\Veltoworks\\game";

class InstallRecord : public ScratchRegistry {
 protected:
  std::unique_ptr<LauncherApp> app_ = std::make_unique<LauncherApp>();
};

TEST_F(InstallRecord, ReadsWhatTheSetupProgramWrote) {
  const std::string longPath = "C:\\" + std::string(280, 'd');
  struct Case {
    const char* id;
    const char* version;  // null: value missing
    std::string runDir;
    std::string runFile;
    int expectVersion;
    const char* expectDir;  // null: runDir with its backslash
    const char* expectExe;  // null: runFile
  } cases[] = {
      {"whole record", "102", "C:\\Games\\Velto", "C:\\Games\\Velto\\g.exe", 102, "C:\\Games\\Velto\\",
       "C:\\Games\\Velto\\g.exe"},
      {"folder keeps its backslash", "7", "C:\\G\\", "C:\\G\\g.exe", 7, "C:\\G\\", "C:\\G\\g.exe"},
      {"four digits", "9999", "", "", 9999, "", ""},
      {"five digits count as absent", "12345", "C:\\G", "C:\\G\\g.exe", 0, "C:\\G\\", "C:\\G\\g.exe"},
      {"no version", nullptr, "C:\\G", "C:\\G\\g.exe", 0, "C:\\G\\", "C:\\G\\g.exe"},
      {"paths longer than a Windows path are not read", "5", longPath, longPath + "\\g.exe", 5, "", ""},
      {"a path of 259 fits", "5", "C:\\" + std::string(255, 'd'), "C:\\" + std::string(256, 'e'), 5, nullptr,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRecord);
    SetText(HKEY_LOCAL_MACHINE, kRecord, "Version", c.version);
    SetText(HKEY_LOCAL_MACHINE, kRecord, "RunDir", c.runDir.c_str());
    SetText(HKEY_LOCAL_MACHINE, kRecord, "RunFileName", c.runFile.c_str());
    const settings::InstallRecord record = settings::ReadInstallRecord("game");
    EXPECT_TRUE(record.found);
    EXPECT_EQ(record.version, c.expectVersion);
    EXPECT_EQ(record.runDir, c.expectDir ? c.expectDir : c.runDir + "\\");
    EXPECT_EQ(record.runFile, c.expectExe ? c.expectExe : c.runFile);
  }
  const settings::InstallRecord none = settings::ReadInstallRecord("other");
  EXPECT_FALSE(none.found) << "no record";
  EXPECT_EQ(none.version, 0);
  EXPECT_EQ(none.runDir, "");
}

TEST_F(InstallRecord, VersionWrittenAfterAnUpgradeIsReadBack) {
  LauncherAppPeer(*app_).plan().progName = "game";
  LauncherAppPeer(*app_).plan().latestVer = 102;
  app_->WriteVersion();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecord)) << "the record is not created";
  // Asking whether it may be made makes nothing (a cancelled change left an empty key).
  EXPECT_TRUE(settings::MayWriteRecord("game", true));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecord)) << "the question left a key behind";

  SetText(HKEY_LOCAL_MACHINE, kRecord, "Version", "100");
  app_->WriteVersion();
  EXPECT_EQ(settings::ReadInstallRecord("game").version, 102);
}

// The real HKLM of the test's own prefix (a 64-bit one, as on a 64-bit PC):
// a setup program of the other width wrote its record into the other view.
TEST(InstallRecordViews, RecordOfEitherWidthIsFoundAndUpdatedWhereItIs) {
  const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  auto write = [](REGSAM view, const char* version) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecord, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(std::strlen(version) + 1));
  };
  auto read = [](REGSAM view) {
    RegKey key;
    std::string text = "none";
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecord, 0, KEY_READ | view, key.put()) == ERROR_SUCCESS) {
      ReadRegistryText(key.get(), "Version", 16, text);
    }
    return text;
  };
  auto app = std::make_unique<LauncherApp>();
  LauncherAppPeer(*app).plan().progName = "game";
  LauncherAppPeer(*app).plan().latestVer = 102;

  write(other, "100");
  ASSERT_EQ(read(0), "none") << "the views are separate";
  EXPECT_EQ(settings::ReadInstallRecord("game").version, 100) << "found in the other view";
  app->WriteVersion();
  EXPECT_EQ(read(other), "102") << "updated where it is";
  EXPECT_EQ(read(0), "none") << "no second record";

  write(0, "101");
  EXPECT_EQ(settings::ReadInstallRecord("game").version, 101) << "the own view comes first";

  // Trust settings come from the own view alone.
  EXPECT_EQ(RegistryViewsFor(ViewPolicy::OwnView).count, 1);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kRecord, other, 0);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kRecord, 0, 0);
}

TEST_F(InstallRecord, ExecutablePresent) {
  const std::string dir = NewTempDir("present");
  ASSERT_TRUE(WriteFileBytes(dir + "game.exe", "MZ"));
  ASSERT_TRUE(WriteFileBytes(dir + "empty.exe", ""));
  struct Case {
    std::string path;
    int present;
  } cases[] = {
      {dir + "game.exe", 1},  {dir + "empty.exe", 0}, {dir + "missing.exe", 0},
      {dir, 0},               {dir + "g*.exe", 0},    {dir + "gam?.exe", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LauncherApp::ExecutablePresent(c.path), c.present != 0) << c.path;
}

TEST_F(InstallRecord, GameLocationFromTheParameters) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string system32 = std::string(windows) + "\\System32";
  struct Case {
    const char* id;
    const char* autoDownUrl;
    HKEY root;  // where the test registers the location
    const char* keyPath;
    std::string value;
    const char* expectDir;
    const char* expectExe;
    bool refused;  // asked about as a missing game
  } cases[] = {
      {"HKey 2, folder and FileName", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Dir&FileName=g.exe",
       HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\G", "C:\\Games\\V", "C:\\Games\\V\\", "C:\\Games\\V\\g.exe", false},
      {"HKey 2, folder with backslash", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Dir&FileName=g.exe",
       HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\G", "C:\\Games\\V\\", "C:\\Games\\V\\", "C:\\Games\\V\\g.exe", false},
      {"HKey 2, executable path", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_LOCAL_MACHINE,
       "SOFTWARE\\V\\G", "C:\\Games\\V\\g.exe", "C:\\Games\\V", "C:\\Games\\V\\g.exe", false},
      {"HKey 1 is the current user", "HKeyUser=1&RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_CURRENT_USER,
       "SOFTWARE\\V\\G", "C:\\U\\g.exe", "C:\\U", "C:\\U\\g.exe", false},
      {"missing value", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Other", HKEY_LOCAL_MACHINE,
       "SOFTWARE\\V\\G", "C:\\Games\\V\\g.exe", "", "", false},
      // Refused before anything is read.
      {"no HKey: the classes root", "RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_CLASSES_ROOT,
       "SOFTWARE\\V\\G", "C:\\C\\g.exe", "", "", true},
      {"HKey 7", "HKey=7&RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\G",
       "C:\\Games\\V\\g.exe", "", "", true},
      {"the system's branch", "HKey=2&RegPath=SOFTWARE\\Microsoft\\G&RegName=Exe", HKEY_LOCAL_MACHINE,
       "SOFTWARE\\Microsoft\\G", "C:\\Games\\V\\g.exe", "", "", true},
      {"FileName leaves the folder", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Dir&FileName=..\\g.exe",
       HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\G", "C:\\Games\\V", "", "", true},
      // Refused for what the value names.
      {"a program of the system", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Dir&FileName=System32\\cmd.exe",
       HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\G", windows, "", "", true},
      {"a system path as the value", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_LOCAL_MACHINE,
       "SOFTWARE\\V\\G", system32 + "\\cmd.exe", "", "", true},
      {"a name the system searches for", "HKey=2&RegPath=SOFTWARE\\V\\G&RegName=Exe", HKEY_LOCAL_MACHINE,
       "SOFTWARE\\V\\G", "cmd.exe", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const char* name = std::strstr(c.autoDownUrl, "RegName=Dir") ? "Dir" : "Exe";
    SetText(c.root, c.keyPath, name, c.value.c_str());
    auto app = std::make_unique<LauncherApp>();
    SetField(LauncherAppPeer(*app).block().AutoDownURL, c.autoDownUrl);
    app->ParseSetupParameters();
    const GameLocation location = app->ReadGameLocation();
    EXPECT_EQ(location.dir, c.expectDir);
    EXPECT_EQ(location.exe, c.expectExe);
    EXPECT_EQ(location.refused, c.refused);
    RegDeleteTreeA(c.root, c.keyPath);
  }
}

TEST_F(InstallRecord, BrowserStartPage) {
  const char kMain[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";
  app_->SetBrowserStartPage();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kMain)) << "a missing key is not created";

  SetText(HKEY_CURRENT_USER, kMain, "Start Page", "about:blank");
  app_->SetBrowserStartPage();
  std::string page;
  ASSERT_TRUE(GetText(HKEY_CURRENT_USER, kMain, "Start Page", page));
  EXPECT_EQ(page, kPortalAddress);
}

// The maintenance service's facts come from the machine alone, each added
// in turn until the program may be served. Wine keeps a folder's list only as
// its POSIX mode (owned by the one account the service shares with the
// test), so the folder rows here are the ones that need no list: a folder
// that is not there or is a file counts as writable. Who may change a game's
// folder by its list is the descriptor table of the rights test.
TEST_F(InstallRecord, ServiceReadsOnlyTheMachinesFacts) {
  const std::string dir = NewTempDir("service");
  ASSERT_TRUE(WriteFileBytes(dir + "file", "x"));
  TestSigner signer;
  EXPECT_EQ(ReadServiceSubject("game").facts.registered, false);
  SetText(HKEY_LOCAL_MACHINE, kRecord, "Version", "100");
  SetText(HKEY_LOCAL_MACHINE, kRecord, "RunDir", dir.c_str());
  EXPECT_EQ(RefusalBeforeFetch(ReadServiceSubject("game").facts), ServiceRefusal::NoRecordedAddress);
  SetText(HKEY_LOCAL_MACHINE, kRecord, "ManifestURL", "file:///C:/m.txt");
  EXPECT_EQ(RefusalBeforeFetch(ReadServiceSubject("game").facts), ServiceRefusal::NoRecordedAddress);
  SetText(HKEY_LOCAL_MACHINE, kRecord, "ManifestURL", "https://dl.example/m.txt");
  EXPECT_EQ(RefusalBeforeFetch(ReadServiceSubject("game").facts), ServiceRefusal::NoKeys);
  SetManifestKeys({signer.PublicKeyLine()});
  const ServiceSubject served = ReadServiceSubject("game");
  EXPECT_EQ(RefusalBeforeFetch(served.facts), ServiceRefusal::None) << served.why;
  EXPECT_EQ(served.manifestUrl, "https://dl.example/m.txt");
  for (const std::string& place : {dir + "missing\\", dir + "file"}) {
    SetText(HKEY_LOCAL_MACHINE, kRecord, "RunDir", place.c_str());
    EXPECT_EQ(RefusalBeforeFetch(ReadServiceSubject("game").facts), ServiceRefusal::FolderWritable) << place;
  }
  SetManifestKeys({});
}

}  // namespace
}  // namespace qz
