// Writing and removing the rows of a registration script (registration_script.h)
// below one registry root, as a program registers itself: the control below
// HKEY_CLASSES_ROOT, the launcher's link protocol below HKEY_LOCAL_MACHINE.
// Rows the script marks as machine keys ("HKLM\...") go below
// HKEY_LOCAL_MACHINE whatever the root, in the registering module's own view.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

#include "base/registration_script.h"

namespace qz {

// The rows of a module's "REGISTRY" resource; nothing when it is missing or
// damaged, so a damaged resource registers nothing.
std::optional<std::vector<RegistryRow>> LoadRegistrationRows(HMODULE module, int resourceId,
                                                             std::string_view classId,
                                                             std::string_view modulePath,
                                                             std::string_view windowsFolder = {});

// Writes the rows in order: each fresh tree is cleared first, then the values.
// Returns the first failure and stops there; the caller removes what was written.
LONG WriteRegistrationRows(HKEY root, const std::vector<RegistryRow>& rows);

// Removes every tree the rows own; a tree already missing counts as removed.
// Returns the first failure, after trying them all.
LONG RemoveRegistrationRows(HKEY root, const std::vector<RegistryRow>& rows);

}  // namespace qz
