#include "base/registry_view.h"

namespace qz {

namespace {

// The view a process of the other width sees, or 0 where there is none.
REGSAM OtherView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return KEY_WOW64_64KEY;
  return 0;
#endif
}

}  // namespace

RegistryViews RegistryViewsFor(ViewPolicy policy) {
  RegistryViews views{{0, 0}, 1};
  const REGSAM other = OtherView();
  if (policy != ViewPolicy::OwnView && other != 0) views.flags[views.count++] = other;
  return views;
}

LSTATUS OpenLocalMachineKey(const char* path, REGSAM access, ViewPolicy policy, RegKey& key) {
  const RegistryViews views = RegistryViewsFor(policy);
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  for (int i = 0; i < views.count; ++i) {
    key.reset();
    status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access | views.flags[i], key.put());
    // Only a missing key sends us on; a key we may not open is not replaced by another.
    if (status != ERROR_FILE_NOT_FOUND) return status;
  }
  return status;
}

}  // namespace qz
