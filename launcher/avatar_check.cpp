// The shared avatar module under the common-files folder is brought up to
// date at every start, before the game is looked at.
#include <cstdio>

#include "base/settings.h"
#include "launcher/launcher_app.h"

namespace qz {

int LauncherApp::CheckAvatarModule() {
  switch (CheckTarget(Target::AvatarModule)) {
    case TargetCheck::NoAddress: return 1;
    case TargetCheck::Failed: return 0;
    case TargetCheck::Decided: break;
  }
  if (action_ != Action::FullInstall) {
    char module[300];
    std::snprintf(module, sizeof module, "%sVeltoworks\\Avatar\\Mirrafig.dll", commonFilesDir_);
    if (!ExecutablePresent(module)) action_ = Action::FullInstall;
  }
  if (action_ == Action::None) return 1;
  if (RunWizard() == DialogEnd::Failed) return 0;
  // Not reported when it fails: the next start simply checks again.
  settings::WriteRecordVersion(plan_.progName, plan_.latestVer, true);
  return 1;
}

}  // namespace qz
