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
bool InsideWindowsFolder(const std::string& exe, const char* windows) {
  char longWindows[MAX_PATH] = {};
  char longExe[MAX_PATH] = {};
  const DWORD w = GetLongPathNameA(windows, longWindows, MAX_PATH);
  const DWORD e = GetLongPathNameA(exe.c_str(), longExe, MAX_PATH);
  const std::string folder = (w > 0 && w < MAX_PATH) ? longWindows : windows;
  const std::string path = (e > 0 && e < MAX_PATH) ? longExe : exe;
  return IsInsideFolder(exe, windows) || IsInsideFolder(path, folder);
}

// The system's Windows folder and, under a terminal server, the session's
// own one both count.
bool InWindowsFolder(const std::string& exe) {
  char system[MAX_PATH] = {};
  char session[MAX_PATH] = {};
  const UINT s = GetSystemWindowsDirectoryA(system, MAX_PATH);
  const UINT t = GetWindowsDirectoryA(session, MAX_PATH);
  if (s == 0 || s >= MAX_PATH || t == 0 || t >= MAX_PATH) return true;
  return InsideWindowsFolder(exe, system) || InsideWindowsFolder(exe, session);
}

}  // namespace

bool LauncherApp::WriteVersion() {
  // Only a setup program creates a game's record; without it there is nothing to update.
  const bool written =
      settings::WriteRecordVersion(plan_.progName.c_str(), plan_.latestVer, target_ == Target::AvatarModule);
  runlog::Write("record", plan_.progName + ": version " + std::to_string(plan_.latestVer) +
                              (written ? " written" : " not written"));
  return written;
}

void LauncherApp::ParseSetupParameters() { setup_ = qz::ParseSetupParameters(block_); }

GameLocation LauncherApp::ReadGameLocation() const {
  GameLocation location;
  const SetupParameters& s = setup_;
  const HKEY root = RootForIndex(s.hKeyIndex);
  if (!root || !IsGameRegistryPath(s.regPath) || (s.fileName[0] != '\0' && !IsGameFileName(s.fileName))) {
    location.refused = true;
    return location;
  }
  if (setupTrust_.required && !IsListedGameLocation(s.hKeyIndex, s.regPath, setupTrust_.gameLocations)) {
    runlog::Write("setup", std::string("location ") + s.regPath + " is not listed in GameLocations: refused");
    location.refused = true;
    return location;
  }
  RegKey key;
  if (RegOpenKeyExA(root, s.regPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return location;
  std::string value;
  if (!ReadRegistryText(key.get(), s.regName, 300, value)) return location;
  std::string dir;
  std::string exe;
  if (!GameLocationFromValue(value, s.fileName, dir, exe)) return location;
  // An empty value names no game: that is "not installed", not a refusal.
  if (!exe.empty() && (!IsFullLocalPath(exe) || !IsGameProgram(exe) || InWindowsFolder(exe))) {
    runlog::Write("setup", "the registered program " + exe + " is not one a game may be: refused");
    location.refused = true;
    return location;
  }
  // A path that does not fit a Windows path is no location, never cut.
  if (dir.size() >= kPathField || exe.size() >= kPathField) return location;
  location.dir = dir;
  location.exe = exe;
  return location;
}

bool LauncherApp::ExecutablePresent(const std::string& path) { return qz::ExecutablePresent(path); }

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
