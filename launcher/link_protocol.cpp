#include "launcher/link_protocol.h"

#include "base/registration_rows.h"
#include "base/win_text.h"
#include "ui/resource_ids.h"

namespace qz {

std::optional<std::vector<RegistryRow>> LinkProtocolRows(HMODULE module, const std::string& launcherPath) {
  auto rows = LoadRegistrationRows(module, IDR_LINK_PROTOCOL, "", launcherPath);
  if (!rows || rows->empty()) return std::nullopt;
  const std::string own = kLinkProtocolKey;
  for (const RegistryRow& row : *rows) {
    if (row.key != own && row.key.compare(0, own.size() + 1, own + "\\") != 0) return std::nullopt;
  }
  return rows;
}

std::string InstalledLauncherPath() {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring path(windows, length);
  if (path.back() != L'\\') path += L'\\';
  return WideToUtf8(path + L"Quorlynx1.exe");
}

LONG RegisterLinkProtocol(HMODULE module) {
  const std::string launcher = InstalledLauncherPath();
  const auto rows = launcher.empty() ? std::nullopt : LinkProtocolRows(module, launcher);
  if (!rows) return ERROR_RESOURCE_DATA_NOT_FOUND;
  const LONG status = WriteRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
  if (status != ERROR_SUCCESS) RemoveRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
  return status;
}

LONG UnregisterLinkProtocol(HMODULE module) {
  const auto rows = LinkProtocolRows(module, InstalledLauncherPath());
  if (!rows) return ERROR_RESOURCE_DATA_NOT_FOUND;
  return RemoveRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
}

}  // namespace qz
