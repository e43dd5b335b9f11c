// The client package on a player's PC, as a PC administrator deploys it: an
// older release installed with the operator's settings, the control used by
// a page, the upgrade, a repair, a refused downgrade and the removal. The
// cases build on each other in one prefix and run in this order.
#include <gtest/gtest.h>

#include <set>

#include "base/win_text.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"

namespace qz::e2e {
namespace {

constexpr DWORD kInstallWait = 180000;
const char kProductName[] = "Velto OneClick Install Manager";
const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kClassKey[] = "SOFTWARE\\Classes\\CLSID\\{44131054-3B0E-429E-A136-8EAE894EBCAE}\\InprocServer32";
const char kPolicyKey[] =
    "SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\{A6D83DD5-11A9-4C9A-B54F-CDD8CC4C8B89}";
const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// The packages `make package` put into the build tree, beside bin\.
std::string PackagePath(const std::string& version, bool test = false) {
  return BinDir() + "..\\package\\" + (test ? "test\\" : "") + "Quorlynx-" + version + "-x64.msi";
}
const std::string kCurrent = PackagePath(QZ_PACKAGE_VERSION);
const std::string kOlder = PackagePath(QZ_PACKAGE_OLD_VERSION, true);

TestSigner& Signer() {
  static TestSigner signer;
  return signer;
}

DWORD Msiexec(const std::string& arguments) {
  const Process msiexec = StartProcess("msiexec.exe " + arguments);
  return msiexec ? msiexec.Wait(kInstallWait) : STILL_ACTIVE;
}

std::string WindowsDir() {
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, MAX_PATH);
  return dir;
}

std::string ProgramFiles(const char* name) {
  char dir[MAX_PATH] = {};
  DWORD size = sizeof dir;
  RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", name,
               RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, dir, &size);
  return std::string(dir) + "\\Veltoworks\\Quorlynx\\Tessacom1.dll";
}

// A value's type and bytes in one registry view; type REG_NONE when missing.
std::pair<DWORD, std::string> RawValue(REGSAM view, const std::string& key, const char* name) {
  RegKey opened;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS) {
    return {REG_NONE, {}};
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(opened.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {REG_NONE, {}};
  std::string data(size, '\0');
  RegQueryValueExA(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
  data.resize(size);
  return {type, data};
}

std::string Text(const std::string& text) { return text + '\0'; }
std::string Multi(const std::string& text) { return text + std::string("\0\0", 2); }

const std::string kPortalKey = "BPortalKeyOfTheOperator=";
std::string ManifestKeys() { return Signer().PublicKeyLine() + ";BAnotherPublishersKey="; }
const std::string kSites = "https://portal.example;https://games.example";
const std::string kLocations = "C:\\Games";

// What the package writes, in both registry views.
void ExpectInstalled(const std::string& step) {
  SCOPED_TRACE(step);
  EXPECT_TRUE(FileExists(WindowsDir() + "\\Quorlynx1.exe"));
  const std::string module[] = {ProgramFiles("ProgramFilesDir"), ProgramFiles("ProgramFilesDir (x86)")};
  for (int view = 0; view < 2; ++view) {
    SCOPED_TRACE(view == 0 ? "64-bit view" : "32-bit view");
    EXPECT_TRUE(FileExists(module[view]));
    const struct {
      std::string key;
      const char* name;
      DWORD type;
      std::string data;
      bool own = false;  // only in the 64-bit view, the launcher's own
    } rows[] = {
        {kClassKey, nullptr, REG_SZ, Text(module[view])},
        {kClassKey, "ThreadingModel", REG_SZ, Text("both")},
        {kPolicyKey, "AppPath", REG_SZ, Text(WindowsDir())},
        {kPolicyKey, "Policy", REG_DWORD, std::string("\3\0\0\0", 4)},
        {"SOFTWARE\\Classes\\quorlynx\\shell\\open\\command", nullptr, REG_SZ,
         Text("\"" + WindowsDir() + "\\Quorlynx1.exe\" \"%1\""), true},
        {"SOFTWARE\\Veltoworks", "ManifestKeys", REG_MULTI_SZ, Multi(ManifestKeys())},
        {"SOFTWARE\\Veltoworks", "PortalKeys", REG_MULTI_SZ, Multi(kPortalKey)},
        {"SOFTWARE\\Veltoworks", "TrustedSites", REG_MULTI_SZ, Multi(kSites)},
        {"SOFTWARE\\Veltoworks", "GameLocations", REG_MULTI_SZ, Multi(kLocations)},
    };
    for (const auto& row : rows) {
      if (row.own && view != 0) continue;
      SCOPED_TRACE(row.key + " | " + (row.name ? row.name : "@"));
      const auto [type, data] = RawValue(kViews[view], row.key, row.name);
      EXPECT_EQ(type, row.type);
      EXPECT_EQ(data, row.data);
    }
  }
}

// The versions of our product Windows Installer lists as installed.
std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  RegKey uninstall;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_64KEY, uninstall.put()) != ERROR_SUCCESS) {
    return versions;
  }
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(uninstall.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::string key = std::string(kUninstall) + "\\" + name;
    if (RawValue(KEY_WOW64_64KEY, key, "DisplayName").second != Text(kProductName)) continue;
    const std::string version = RawValue(KEY_WOW64_64KEY, key, "DisplayVersion").second;
    versions.push_back(version.substr(0, version.find('\0')));
  }
  return versions;
}

// Every key and value below HKLM\SOFTWARE in both views, and every file and
// folder of the Windows and program folders: what the removal is compared by.
void AddKeys(HKEY parent, REGSAM view, const std::wstring& path, std::set<std::string>& out) {
  RegKey key;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
  const std::string prefix = (view == KEY_WOW64_32KEY ? "32 " : "64 ") + WideToUtf8(path);
  out.insert(prefix);
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(1 << 20);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    if (RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
      break;
    }
    out.insert(prefix + " | " + WideToUtf8(std::wstring(name.data(), nameLength)) + " | " + std::to_string(type) +
               " | " + std::string(reinterpret_cast<const char*>(data.data()), size));
  }
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key.get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(name.data(), nameLength);
  }
  for (const std::wstring& subkey : subkeys) AddKeys(parent, view, path + L"\\" + subkey, out);
}

void AddFiles(const std::wstring& folder, std::set<std::string>& out) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    out.insert(WideToUtf8(path));
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      AddFiles(path, out);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

std::set<std::string> MachineState() {
  std::set<std::string> state;
  for (REGSAM view : kViews) AddKeys(HKEY_LOCAL_MACHINE, view, L"SOFTWARE", state);
  for (const char* name : {"ProgramFilesDir", "ProgramFilesDir (x86)"}) {
    const std::string dll = ProgramFiles(name);
    AddFiles(Utf8ToWide(dll.substr(0, dll.find("\\Veltoworks\\"))), state);
  }
  AddFiles(Utf8ToWide(WindowsDir()), state);
  return state;
}

// What the removal is not asked to undo: the Windows Installer's own caches
// and logs, temporary files, and what Wine changes while it runs.
bool Ignored(const std::string& entry) {
  for (const char* part : {"\\Installer\\", "\\temp\\", "\\Temp\\", "Microsoft\\Cryptography\\RNG",
                           "Windows NT\\CurrentVersion\\Perflib"}) {
    if (entry.find(part) != std::string::npos) return true;
  }
  return false;
}

std::set<std::string>& Before() {
  static std::set<std::string> state;
  return state;
}

TEST(PackageTest, InstallsWithTheOperatorsSettings) {
  ASSERT_TRUE(FileExists(kOlder)) << kOlder << " is missing: run make package";
  ASSERT_TRUE(FileExists(kCurrent)) << kCurrent << " is missing: run make package";
  Before() = MachineState();
  ASSERT_EQ(Msiexec("/i \"" + kOlder + "\" /qn MANIFESTKEYS=\"" + ManifestKeys() + "\" PORTALKEYS=\"" + kPortalKey +
                    "\" TRUSTEDSITES=\"" + kSites + "\" GAMELOCATIONS=\"" + kLocations + "\""),
            0u);
  ExpectInstalled("install");
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_OLD_VERSION});
}

TEST(PackageTest, UpgradeReplacesTheOlderReleaseAndKeepsTheSettings) {
  ASSERT_EQ(Msiexec("/i \"" + kCurrent + "\" /qn"), 0u);
  ExpectInstalled("upgrade");
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_VERSION});
}

// A page's script creates the control by its ProgID; the installed launcher
// takes the manifest signed with the first of the operator's keys and starts
// the game.
TEST(PackageTest, ControlFromAPageStartsTheInstalledLauncher) {
  const std::string gameDir = NewTempDir("Velto Game ");
  const std::string game = InstallGame(gameDir);
  WriteInstallRecord("VeltoGame", "100", gameDir, game);
  const std::string manifest = "[VLTWUpdateFile]\r\nProgName VeltoGame\r\nMinVer 100\r\nFullDnURL " +
                               ServerUrl("full/setup.exe") + "\r\nSHA256 " + Sha256Hex("setup") +
                               "\r\nUpBaseURL " + ServerUrl("patch/") + "\r\n";
  Publish("game.txt", manifest);
  Publish("game.txt.sig", Signer().SignatureText(manifest));
  const std::string page = NewTempDir("page") + "page.js";
  ASSERT_TRUE(WriteFileBytes(page, "try {\r\nvar c = new ActiveXObject(\"Tessacom1.Tessacontrol1\");\r\nc.Init;\r\n"
                                   "c.RunMode = \"Vltw_Normal\";\r\nc.ProgName = \"VeltoGame\";\r\n"
                                   "c.AutoDownURL = \"" + ServerUrl("game.txt") + "\";\r\nc.Run();\r\n"
                                   "} catch (e) { WScript.Quit(2); }\r\n"));
  const Process host = StartProcess("cscript.exe //nologo \"" + page + "\"");
  ASSERT_TRUE(host);
  EXPECT_EQ(host.Wait(kWait), 0u) << "the script failed";
  EXPECT_EQ(GameRecord(game)["block"], "ok") << "the game was not started with a record";
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\VeltoGame");
}

TEST(PackageTest, RepairBringsBackADeletedFile) {
  ASSERT_TRUE(DeleteFileA((WindowsDir() + "\\Quorlynx1.exe").c_str()));
  ASSERT_EQ(Msiexec("/i \"" + kCurrent + "\" /qn REINSTALL=ALL REINSTALLMODE=amus"), 0u);
  ExpectInstalled("repair");
}

TEST(PackageTest, RefusesADowngradeWithAClearMessage) {
  const std::string log = NewTempDir("msilog") + "downgrade.log";
  EXPECT_NE(Msiexec("/i \"" + kOlder + "\" /qn /l* \"" + log + "\""), 0u);
  const std::string text = ReadFileBytes(log);
  // The log is UTF-16 or ANSI as the installer writes it: look for both.
  const std::string message = "A newer version of Velto OneClick Install Manager is already installed.";
  std::string wide;
  for (char c : message) wide += std::string{c, '\0'};
  EXPECT_TRUE(text.find(message) != std::string::npos || text.find(wide) != std::string::npos)
      << "the log does not say why";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_VERSION});
  ExpectInstalled("after the refused downgrade");
}

TEST(PackageTest, UninstallLeavesNothingOfOurs) {
  ASSERT_FALSE(Before().empty()) << "the first case did not run";
  ASSERT_EQ(Msiexec("/x \"" + kCurrent + "\" /qn"), 0u);
  EXPECT_TRUE(InstalledVersions().empty());
  const std::set<std::string> after = MachineState();
  std::vector<std::string> left;
  for (const std::string& entry : after) {
    if (!Before().count(entry) && !Ignored(entry)) left.push_back(entry.substr(0, 300));
  }
  EXPECT_TRUE(left.empty()) << "left after the removal:\n" << testing::PrintToString(left);
}

}  // namespace
}  // namespace qz::e2e
