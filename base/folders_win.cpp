#include <windows.h>

#include "base/folders.h"
#include "base/win_handles.h"

namespace qz {

std::string PlayerWorkFolder() {
  char temp[MAX_PATH] = {};
  const DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) return std::string();
  const DWORD attributes = GetFileAttributesA(temp);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::string();
  return WorkDirBelow(std::string(temp, n));
}

std::string InstalledLauncherFolder() {
  char windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(windows, length);
}

std::string InstalledLauncherPath() {
  const std::string folder = InstalledLauncherFolder();
  return folder.empty() ? folder : WithTrailingBackslash(folder) + kInstalledLauncherName;
}

bool ExecutablePresent(const std::string& path) {
  // A search pattern names no one file; it would find any file that matches.
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA found{};
  FindHandle search(FindFirstFileA(path.c_str(), &found));
  if (!search) return false;
  return found.nFileSizeHigh != 0 || found.nFileSizeLow != 0;
}

}  // namespace qz
