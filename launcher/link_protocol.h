// The launcher as the handler of "quorlynx:" links: its registration rows
// (the module's resource, made from link_protocol.rgs) below HKEY_LOCAL_MACHINE,
// written and removed by whatever installs the launcher, with rights.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/registration_script.h"

namespace qz {

// Every row lies in this key: a damaged table never touches another key.
constexpr char kLinkProtocolKey[] = "SOFTWARE\\Classes\\quorlynx";

// The rows with %MODULE% filled in as `launcherPath` (UTF-8; registration
// uses the installed launcher's, InstalledLauncherPath); nothing when
// the resource is missing, damaged or names a key outside kLinkProtocolKey.
std::optional<std::vector<RegistryRow>> LinkProtocolRows(HMODULE module, const std::string& launcherPath);

// ERROR_SUCCESS or the first failure. Registration clears the key first and
// removes what it wrote when a write fails; a key already missing counts as
// removed.
LONG RegisterLinkProtocol(HMODULE module);
LONG UnregisterLinkProtocol(HMODULE module);

}  // namespace qz
