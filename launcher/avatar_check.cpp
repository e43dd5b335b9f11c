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
  target = Target::AvatarModule;
  action = Action::None;
  if (FetchManifestWithWait(texts::kWaitAvatar) == DialogEnd::Failed) {
    ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
    return 0;
  }
  DecideAction();
  if (action != Action::FullInstall) {
    char module[300];
    std::snprintf(module, sizeof module, "%sVeltoworks\\Avatar\\Mirrafig.dll", commonFilesDir);
    if (!ExecutablePresent(module)) action = Action::FullInstall;
  }
  if (action == Action::None) return 1;
  if (RunWizard() == DialogEnd::Failed) return 0;
  // Not reported when it fails: the next start simply checks again.
  settings::WriteRecordVersion(progName, latestVer, true);
  return 1;
}

}  // namespace qz
