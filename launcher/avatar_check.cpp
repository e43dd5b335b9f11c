// The shared avatar module under the common-files folder is brought up to
// date at every start, before the game is looked at.
#include <cstdio>

#include "base/settings.h"
#include "launcher/launcher_app.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

int LauncherApp::CheckAvatarModule() {
  if (block.CommonURL[0] == '\0') return 1;
  target = TargetAvatarModule;
  action = ActionNone;
  if (FetchManifestWithWait(texts::kWaitAvatar) == 2) {
    ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
    return 0;
  }
  DecideAction();
  if (action != ActionFullInstall) {
    char module[300];
    std::snprintf(module, sizeof module, "%sVeltoworks\\Avatar\\Mirrafig.dll", commonFilesDir);
    if (!ExecutablePresent(module)) action = ActionFullInstall;
  }
  if (action == ActionNone) return 1;
  if (RunWizard() == 2) return 0;
  // Not reported when it fails: the next start simply checks again.
  settings::WriteRecordVersion(progName, latestVer, true);
  return 1;
}

}  // namespace qz
