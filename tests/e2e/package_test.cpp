// The client package on a player's PC, as a PC administrator deploys it: an
// older release installed with the operator's settings, the other width's
// package refused, an upgrade with reduced UI and a new setting, the control
// used by a page, a repair that clears a setting, a second upgrade, a refused
// downgrade right after it and the removal. The cases build on each other in
// one prefix and run in this order.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <set>
#include <stdexcept>
#include <vector>

#include "base/win_text.h"
#include "tests/e2e/e2e_support.h"
#include "base/service_channel.h"
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
std::string PackagePath(const std::string& version, bool test = false, const char* arch = "x64") {
  return BinDir() + "..\\package\\" + (test ? "test\\" : "") + "Quorlynx-" + version + "-" + arch + ".msi";
}
const std::string kCurrent = PackagePath(QZ_PACKAGE_VERSION);
const std::string kOlder = PackagePath(QZ_PACKAGE_OLD_VERSION, true);
const std::string kNewer = PackagePath(QZ_PACKAGE_NEXT_VERSION, true);
const std::string kCurrentX86 = PackagePath(QZ_PACKAGE_VERSION, false, "x86");

TestSigner& Signer() {
  static TestSigner signer;
  return signer;
}

DWORD Msiexec(const std::string& arguments) {
  const Process msiexec = StartProcess("msiexec.exe " + arguments);
  return msiexec ? msiexec.Wait(kInstallWait) : STILL_ACTIVE;
}

// Whether an installer's log (ANSI or UTF-16, as the installer writes it) says `text`.
bool LogSays(const std::string& log, const std::string& text) {
  const std::string bytes = ReadFileBytes(log);
  std::string wide;
  for (char c : text) wide += std::string{c, '\0'};
  return bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos;
}

// A file's version from its version block ("1.0.1.0"); empty without one.
std::string FileVersion(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) {
    return {};
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// Whether every process of that program name ended within the wait.
bool WaitUntilEnded(const char* exeName) {
  for (DWORD waited = 0; waited < kWait; waited += 200) {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
      running = running || _stricmp(entry.szExeFile, exeName) == 0;
    }
    if (!running) return true;
    Sleep(200);
  }
  return false;
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
               RRF_RT_REG_SZ, nullptr, dir, &size);
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

const std::string kPortalKey = "BPortalKeyOfTheOperator=";
// Two publishers' keys in one property; every line must be a key, or none counts.
std::string ManifestKeys() {
  static TestSigner other;
  return Signer().PublicKeyLine() + ";" + other.PublicKeyLine();
}
const std::string kLocations = "HKLM\\SOFTWARE\\Veltoworks\\VeltoDemo;HKLM\\SOFTWARE\\Vendor\\Game";

// The operator's settings as the last installation left them: the property,
// the value it writes, and its type and bytes there (REG_NONE: cleared).
struct Setting {
  const char* property;
  const char* value;
  DWORD type;
  std::string data;
};
std::string Text(const std::string& text) { return text + '\0'; }
std::string Multi(const std::string& text) { return text + std::string("\0\0", 2); }
std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }
std::vector<Setting>& Settings() {
  static std::vector<Setting> settings = {
      {"MANIFESTKEYS", "ManifestKeys", REG_MULTI_SZ, Multi(ManifestKeys())},
      {"PORTALKEYS", "PortalKeys", REG_MULTI_SZ, Multi(kPortalKey)},
      {"TRUSTEDSITES", "TrustedSites", REG_MULTI_SZ, Multi("https://portal.example;https://games.example")},
      {"GAMELOCATIONS", "GameLocations", REG_MULTI_SZ, Multi(kLocations)},
      {"RATELIMITKBPS", "RateLimitKBps", REG_DWORD, Dword(512)},
      {"CHANNEL", "Channel", REG_SZ, Text("beta")},
      {"DISABLESERVICE", "ServiceDisabled", REG_DWORD, Dword(0)},  // 0 is a value, not none
      {"SIGNATURESREQUIRED", "SignaturesRequired", REG_DWORD, Dword(1)},
  };
  return settings;
}
Setting& SettingOf(const std::string& property) {
  for (Setting& setting : Settings()) {
    if (property == setting.property) return setting;
  }
  throw std::logic_error(property);
}

// The maintenance service as the service control manager has it; "" when
// it is not installed.
std::string ServiceConfig() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, kServiceName, SERVICE_QUERY_CONFIG) : nullptr;
  std::string text;
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (service && QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed)) {
    std::string path = config->lpBinaryPathName;  // quoted by Windows Installer, not by Wine's
    if (path.size() > 1 && path.front() == '"') path = path.substr(1, path.size() - 2);
    text = "start " + std::to_string(config->dwStartType) + ", type " + std::to_string(config->dwServiceType) +
           ", " + path;
  }
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return text;
}

// What the package writes, in both registry views, and the programs of `version`.
void ExpectInstalled(const std::string& step, const std::string& version) {
  SCOPED_TRACE(step);
  const std::string launcher = WindowsDir() + "\\Quorlynx1.exe";
  EXPECT_EQ(FileVersion(launcher), version + ".0");
  // The maintenance service: its program beside the launcher, registered to
  // start on demand.
  const std::string service = WindowsDir() + "\\QuorlynxService.exe";
  EXPECT_EQ(FileVersion(service), version + ".0");
  const std::string config = ServiceConfig();
  EXPECT_EQ(config, "start 3, type 16, " + service) << config;
  const std::string module[] = {ProgramFiles("ProgramFilesDir"), ProgramFiles("ProgramFilesDir (x86)")};
  for (int view = 0; view < 2; ++view) {
    SCOPED_TRACE(view == 0 ? "64-bit view" : "32-bit view");
    EXPECT_EQ(FileVersion(module[view]), version + ".0");
    struct Row {
      std::string key;
      const char* name;
      DWORD type;
      std::string data;
      bool own = false;  // only in the 64-bit view, the launcher's own
    };
    std::vector<Row> rows = {
        {kClassKey, nullptr, REG_SZ, Text(module[view])},
        {kClassKey, "ThreadingModel", REG_SZ, Text("both")},
        {kPolicyKey, "AppPath", REG_SZ, Text(WindowsDir())},
        {kPolicyKey, "Policy", REG_DWORD, Dword(3)},
        {"SOFTWARE\\Classes\\quorlynx\\shell\\open\\command", nullptr, REG_SZ,
         Text("\"" + launcher + "\" \"%1\""), true},
    };
    for (const Setting& setting : Settings()) {
      rows.push_back({"SOFTWARE\\Veltoworks", setting.value, setting.type, setting.data});
    }
    for (const auto& row : rows) {
      if (row.own && view != 0) continue;
      SCOPED_TRACE(row.key + " | " + (row.name ? row.name : "@"));
      const auto [type, data] = RawValue(kViews[view], row.key, row.name);
      EXPECT_EQ(type, row.type);
      EXPECT_EQ(data, row.data);
    }
  }
}

// The versions of our product Windows Installer lists as installed, and the
// entries' keys (named by the product code).
std::vector<std::string> InstalledVersions(std::vector<std::string>* keys = nullptr) {
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
    if (keys) keys->push_back(key);
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
  static std::vector<wchar_t> name(16384);
  static std::vector<BYTE> data(1 << 20);
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
  for (const std::wstring& subkey : subkeys) {
    // The 32-bit view is walked on its own.
    if (view == KEY_WOW64_64KEY && path == L"SOFTWARE" && _wcsicmp(subkey.c_str(), L"Wow6432Node") == 0) continue;
    AddKeys(parent, view, path + L"\\" + subkey, out);
  }
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
  if (entry.size() >= 10 && entry.compare(entry.size() - 10, 10, "\\Installer") == 0) return true;
  for (const char* part : {"\\Installer\\", "\\temp\\", "\\Temp\\", "Microsoft\\Cryptography\\RNG",
                           "Microsoft\\SystemCertificates\\", "Windows NT\\CurrentVersion\\Perflib"}) {
    if (entry.find(part) != std::string::npos) return true;
  }
  return false;
}

std::set<std::string>& Before() {
  static std::set<std::string> state;
  return state;
}

std::string SettingsArguments() {
  std::string arguments;
  for (const char* property : {"MANIFESTKEYS", "PORTALKEYS", "TRUSTEDSITES", "GAMELOCATIONS"}) {
    const std::string& data = SettingOf(property).data;
    arguments += std::string(" ") + property + "=\"" + data.substr(0, data.size() - 2) + "\"";
  }
  return arguments + " RATELIMITKBPS=512 CHANNEL=beta DISABLESERVICE=0 SIGNATURESREQUIRED=1";
}

TEST(PackageTest, InstallsWithTheOperatorsSettings) {
  for (const std::string& package : {kOlder, kCurrent, kNewer, kCurrentX86}) {
    ASSERT_TRUE(FileExists(package)) << package << " is missing: run make package";
  }
  // The script host registers its own classes on its first run: before the
  // state the removal is compared with.
  const std::string warmUp = NewTempDir("host") + "empty.js";
  ASSERT_TRUE(WriteFileBytes(warmUp, "WScript.Quit(0);\r\n"));
  ASSERT_EQ(StartProcess("cscript.exe //nologo \"" + warmUp + "\"").Wait(kWait), 0u);
  Before() = MachineState();
  ASSERT_EQ(Msiexec("/i \"" + kOlder + "\" /qn" + SettingsArguments()), 0u);
  ExpectInstalled("install", QZ_PACKAGE_OLD_VERSION);
  std::vector<std::string> keys;
  EXPECT_EQ(InstalledVersions(&keys), std::vector<std::string>{QZ_PACKAGE_OLD_VERSION});
  // Apps & features: no Change button, the links, the launcher's icon.
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(RawValue(KEY_WOW64_64KEY, keys[0], "NoModify"), std::make_pair(DWORD{REG_DWORD}, Dword(1)));
  EXPECT_EQ(RawValue(KEY_WOW64_64KEY, keys[0], "HelpLink").second, Text("https://portal.velto.example/help/"));
  EXPECT_EQ(RawValue(KEY_WOW64_64KEY, keys[0], "URLInfoAbout").second, Text("https://portal.velto.example/"));
  const std::string productCode = keys[0].substr(keys[0].rfind('\\') + 1);
  EXPECT_TRUE(FileExists(WindowsDir() + "\\Installer\\" + productCode + "\\Quorlynx.ico"));
}

// The x86 package is for 32-bit Windows: on a 64-bit PC it says which
// package to take and leaves the installed 64-bit client as it is.
TEST(PackageTest, X86PackageIsRefusedOnA64BitPc) {
  const std::string log = NewTempDir("msilog") + "x86.log";
  EXPECT_EQ(Msiexec("/i \"" + kCurrentX86 + "\" /qn /l* \"" + log + "\""), 1603u);
  // Stopped by a launch condition, before anything was costed (Wine logs
  // no launch condition's message; the build checks that it names the x64
  // package).
  EXPECT_TRUE(LogSays(log, "LaunchConditions") && !LogSays(log, "CostInitialize")) << ReadFileBytes(log);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_OLD_VERSION});
  ExpectInstalled("after the refused x86 package", QZ_PACKAGE_OLD_VERSION);
}

// An upgrade run with reduced UI takes a setting given to it (the UI
// sequence's AppSearch would read the saved one over it) and keeps the others.
TEST(PackageTest, UpgradeWithUiTakesANewSettingAndKeepsTheOthers) {
  SettingOf("TRUSTEDSITES").data = Multi("https://games.example.jp");
  ASSERT_EQ(Msiexec("/i \"" + kCurrent + "\" /qr TRUSTEDSITES=\"https://games.example.jp\""), 0u);
  ExpectInstalled("upgrade", QZ_PACKAGE_VERSION);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_VERSION});
}

// A page's script creates the control by its ProgID; the installed launcher
// takes the manifest signed with the first of the operator's keys and starts
// the game.
TEST(PackageTest, ControlFromAPageStartsTheInstalledLauncher) {
  const std::string gameDir = NewTempDir("Velto Game ");
  const std::string game = InstallGame(gameDir);
  WriteInstallRecord("VeltoGame", "100", gameDir, game);
  const std::string manifest =
      "[VLTWUpdateFile]\r\nProgName VeltoGame\r\nTarget game\r\nSerial 1\r\nExpires 2099-01-01T00:00Z\r\n"
      "MinVer 100\r\nFullDnURL " + ServerUrl("full/setup.exe") + "\r\nSHA256 " + Sha256Hex("setup") +
      "\r\nSize 5\r\nUpBaseURL " + ServerUrl("patch/") + "\r\n";
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
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(GameRecord(game)["block"], "ok") << "the game was not started with a record; the launcher's log:\n"
                                             << ReadFileBytes(std::string(temp) + "~qztmp\\Quorlynx.log");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\VeltoGame");
  // The launcher holds the game's section a while longer; the cases after
  // this one change its file.
  EXPECT_TRUE(WaitUntilEnded("Quorlynx1.exe"));
}

// "-" clears a setting: the value and its saved copy go, and a later run
// without the property does not bring it back.
TEST(PackageTest, RepairBringsBackADeletedFileAndClearsASetting) {
  ASSERT_TRUE(DeleteFileA(ProgramFiles("ProgramFilesDir").c_str()));
  SettingOf("GAMELOCATIONS") = {"GAMELOCATIONS", "GameLocations", REG_NONE, ""};
  ASSERT_EQ(Msiexec("/i \"" + kCurrent + "\" /qn REINSTALL=ALL REINSTALLMODE=amus GAMELOCATIONS=-"), 0u);
  ExpectInstalled("repair", QZ_PACKAGE_VERSION);
  for (REGSAM view : kViews) {
    EXPECT_EQ(RawValue(view, "SOFTWARE\\Veltoworks\\Package", "GAMELOCATIONS").first, DWORD{REG_NONE});
  }
}

// The old release goes first, so the new programs replace it whole and the
// product stays registered once.
TEST(PackageTest, UpgradeReplacesTheProgramsAndKeepsTheSettings) {
  ASSERT_EQ(Msiexec("/i \"" + kNewer + "\" /qn"), 0u);
  ExpectInstalled("second upgrade", QZ_PACKAGE_NEXT_VERSION);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_NEXT_VERSION});
}

TEST(PackageTest, RefusesADowngradeRightAfterAnUpgrade) {
  const std::string log = NewTempDir("msilog") + "downgrade.log";
  EXPECT_EQ(Msiexec("/i \"" + kCurrent + "\" /qn /l* \"" + log + "\""), 1603u);
  // Refused by the launch condition on the newer release found installed
  // (whose message the build checks in the package).
  EXPECT_TRUE(LogSays(log, "WIX_DOWNGRADE_DETECTED = {")) << "the log does not show the newer release";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QZ_PACKAGE_NEXT_VERSION});
  ExpectInstalled("after the refused downgrade", QZ_PACKAGE_NEXT_VERSION);
}

TEST(PackageTest, UninstallLeavesNothingOfOurs) {
  ASSERT_FALSE(Before().empty()) << "the first case did not run";
  ASSERT_EQ(Msiexec("/x \"" + kNewer + "\" /qn"), 0u);
  EXPECT_TRUE(InstalledVersions().empty());
  EXPECT_EQ(ServiceConfig(), "") << "the maintenance service is still registered";
  const std::set<std::string> after = MachineState();
  std::vector<std::string> left;
  for (const std::string& entry : after) {
    if (!Before().count(entry) && !Ignored(entry)) left.push_back(entry.substr(0, 300));
  }
  std::string listed;
  for (std::size_t i = 0; i < left.size() && i < 40; ++i) listed += left[i] + "\n";
  EXPECT_TRUE(left.empty()) << left.size() << " entries left after the removal:\n" << listed;
}

}  // namespace
}  // namespace qz::e2e
