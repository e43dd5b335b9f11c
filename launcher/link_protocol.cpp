#include "launcher/link_protocol.h"

#include "base/folders.h"
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

namespace {

// The rows are UTF-8; the launcher's place is known in the ANSI code page.
std::string LauncherPathText() {
  const std::string launcher = InstalledLauncherPath();
  return launcher.empty() ? launcher : WideToUtf8(AnsiToWide(launcher));
}

}  // namespace

LONG RegisterLinkProtocol(HMODULE module) {
  const std::string launcher = LauncherPathText();
  const auto rows = launcher.empty() ? std::nullopt : LinkProtocolRows(module, launcher);
  if (!rows) return ERROR_RESOURCE_DATA_NOT_FOUND;
  const LONG status = WriteRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
  if (status != ERROR_SUCCESS) RemoveRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
  return status;
}

LONG UnregisterLinkProtocol(HMODULE module) {
  const auto rows = LinkProtocolRows(module, LauncherPathText());
  if (!rows) return ERROR_RESOURCE_DATA_NOT_FOUND;
  return RemoveRegistrationRows(HKEY_LOCAL_MACHINE, *rows);
}

}  // namespace qz
