// The installation record (one per program in the product's settings, written
// by the setup programs and by us after an upgrade), the setup modes' game
// location, and the presence test of an executable.
#include <cstdio>
#include <string>

#include "base/field_text.h"
#include "base/folders.h"
#include "base/param_text.h"
#include "base/portal.h"
#include "base/registry_text.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "format/limits.h"
#include "launcher/launcher_app.h"
#include "launcher/setup_params.h"

namespace qz {

namespace {

// Registry paths are read through 300-byte buffers into 260-byte fields; a
// path that would not fit is treated as unreadable rather than cut.
template <std::size_t N>
void ReadPathInto(HKEY key, const char* name, bool folder, char (&field)[N]) {
  std::string text;
  if (!ReadRegistryText(key, name, 300, text)) return;
  if (folder) text = WithTrailingBackslash(text);
  if (FitsField(text.size(), N)) CopyCut(field, text);
}

// Only the two roots where setup programs register games are read.
HKEY RootForIndex(int index) {
  switch (index) {
    case 1: return HKEY_CURRENT_USER;
    case 2: return HKEY_LOCAL_MACHINE;
    default: return nullptr;
  }
}

// True when the executable lies in the Windows folder, compared as written
// and by long names (a short name such as WINDOW~1 is another spelling of the
// same folder); also true when the Windows folder cannot be told.
bool InWindowsFolder(const std::string& exe) {
  char windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return true;
  char longWindows[MAX_PATH] = {};
  char longExe[MAX_PATH] = {};
  const DWORD w = GetLongPathNameA(windows, longWindows, MAX_PATH);
  const DWORD e = GetLongPathNameA(exe.c_str(), longExe, MAX_PATH);
  const std::string folder = (w > 0 && w < MAX_PATH) ? longWindows : windows;
  const std::string path = (e > 0 && e < MAX_PATH) ? longExe : exe;
  return IsInsideFolder(exe, windows) || IsInsideFolder(path, folder);
}

}  // namespace

int LauncherApp::ReadInstallRecord(const char* name, std::uint16_t& version, char (&folder)[kPathField],
                                   char (&exe)[kPathField]) {
  RegKey key;
  if (!settings::OpenInstallRecord(name, KEY_READ, false, key)) return 0;
  std::string text;
  if (ReadRegistryText(key.get(), "Version", kVersionField, text)) {
    version = static_cast<std::uint16_t>(LeadingDecimal(text));
  }
  if (target_ == Target::Game) {
    ReadPathInto(key.get(), "RunDir", true, folder);
    ReadPathInto(key.get(), "RunFileName", false, exe);
  }
  return 1;
}

bool LauncherApp::WriteVersion() {
  // Only a setup program creates a game's record; without it there is nothing to update.
  const bool written = settings::WriteRecordVersion(plan_.progName, plan_.latestVer, target_ == Target::AvatarModule);
  runlog::Write("record", std::string(plan_.progName) + ": version " + std::to_string(plan_.latestVer) +
                              (written ? " written" : " not written"));
  return written;
}

void LauncherApp::ParseSetupParameters() {
  setup_ = qz::ParseSetupParameters(block_);
}

void LauncherApp::ReadGameLocation() {
  gameLocationRefused_ = false;
  const SetupParameters& s = setup_;
  const HKEY root = RootForIndex(s.hKeyIndex);
  if (!root || !IsGameRegistryPath(s.regPath) || (s.fileName[0] != '\0' && !IsGameFileName(s.fileName))) {
    RefuseGameLocation();
    return;
  }
  if (setupTrust_.required && !IsListedGameLocation(s.hKeyIndex, s.regPath, setupTrust_.gameLocations)) {
    runlog::Write("setup", std::string("location ") + s.regPath + " is not listed in GameLocations: refused");
    RefuseGameLocation();
    return;
  }
  RegKey key;
  if (RegOpenKeyExA(root, s.regPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  std::string value;
  if (!ReadRegistryText(key.get(), s.regName, 300, value)) return;
  std::string dir;
  std::string exe;
  if (!GameLocationFromValue(value, s.fileName, dir, exe)) return;
  // An empty value names no game: that is "not installed", not a refusal.
  if (!exe.empty() && (!IsFullLocalPath(exe) || !IsGameProgram(exe) || InWindowsFolder(exe))) {
    runlog::Write("setup", "the registered program " + exe + " is not one a game may be: refused");
    RefuseGameLocation();
    return;
  }
  CopyCut(plan_.gameDir, dir);
  CopyCut(plan_.gameExe, exe);
}

void LauncherApp::RefuseGameLocation() {
  plan_.gameDir[0] = plan_.gameExe[0] = '\0';
  gameLocationRefused_ = true;
}

int LauncherApp::ExecutablePresent(const char* path) {
  // A search pattern names no one file; it would find any file that matches.
  if (path[0] == '\0' || std::string(path).find_first_of("*?") != std::string::npos) return 0;
  WIN32_FIND_DATAA found{};
  FindHandle search(FindFirstFileA(path, &found));
  if (!search) return 0;
  return (found.nFileSizeHigh != 0 || found.nFileSizeLow != 0) ? 1 : 0;
}

void LauncherApp::SetBrowserStartPage() {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", 0, KEY_WRITE,
                    key.put()) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key.get(), "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPortalAddress),
                 static_cast<DWORD>(sizeof kPortalAddress));
}

}  // namespace qz
