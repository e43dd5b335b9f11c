// Which registry view (64-bit or 32-bit, on 64-bit Windows) our HKLM values
// are looked up in. One place decides, so the launcher and the control of
// either width agree.
#pragma once

#include <windows.h>

#include "base/win_handles.h"

namespace qz {

enum class ViewPolicy {
  // Trust settings (TrustedSites): only the view of this module's own width.
  // Adding the other view would widen trust beyond what was configured for
  // this browser; a site missing there is refused, which fails closed.
  OwnView,
  // Installation records: the setup program of either width may have written
  // it, so the own view first, then the other one. A record is updated where
  // it was found, so there is only ever one per program.
  OwnThenOther,
  // Signing keys (ManifestKeys): every view. A key configured for either
  // width must switch signature checks on for both, or the other width would
  // quietly accept unsigned manifests.
  EveryView,
};

struct RegistryViews {
  REGSAM flags[2];  // 0 is the process's own view
  int count;
};

// The views to try, in order. 32-bit Windows has one view; a 32-bit process
// on 64-bit Windows also gets the 64-bit one, a 64-bit process the 32-bit one.
RegistryViews RegistryViewsFor(ViewPolicy policy);

// Opens HKLM `path` in the first of the policy's views that has it; any
// error other than a missing key ends the search.
LSTATUS OpenLocalMachineKey(const char* path, REGSAM access, ViewPolicy policy, RegKey& key);

}  // namespace qz
