// The shared avatar module under the common-files folder is brought up to
// date at every start, before the game is looked at.
#include <cstdio>

#include "launcher/launcher_app.h"
#include "launcher/registry_view.h"
#include "launcher/win_handles.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

void RecordAvatarVersion(const char* name, std::uint16_t version) {
  char path[300];
  std::snprintf(path, sizeof path, "SOFTWARE\\Veltoworks\\%s", name);
  RegKey key;
  if (OpenLocalMachineKey(path, KEY_WRITE, ViewPolicy::OwnThenOther, key) != ERROR_SUCCESS &&
      RegCreateKeyA(HKEY_LOCAL_MACHINE, path, key.put()) != ERROR_SUCCESS) {
    return;  // not reported: the next start simply checks again
  }
  char text[8];
  const int n = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(version));
  RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(n + 1));
}

}  // namespace

int LauncherApp::CheckAvatarModule() {
  if (block.CommonURL[0] == '\0') return 1;
  target = TargetAvatarModule;
  action = ActionNone;
  if (RunWaitDialog(texts::kWaitAvatar) == 2) {
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
  if (RunWizardDialog() == 2) return 0;
  RecordAvatarVersion(progName, latestVer);
  return 1;
}

}  // namespace qz
