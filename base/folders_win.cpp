#include <windows.h>

#include "base/folders.h"

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

}  // namespace qz
