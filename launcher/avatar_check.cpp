// The shared avatar module under the common-files folder is brought up to
// date at every start, before the game is looked at.
#include "launcher/launcher_app.h"

namespace qz {

bool LauncherApp::AvatarModuleMissing() const {
  return !ExecutablePresent(commonFilesDir_ + "Veltoworks\\Avatar\\Mirrafig.dll");
}

ExitCode LauncherApp::CheckAvatarModule() {
  switch (CheckTarget(Target::AvatarModule)) {
    case TargetCheck::NoAddress: return ExitCode::Done;
    case TargetCheck::Failed: return ExitCode::Stopped;
    case TargetCheck::Decided: break;
  }
  if (action_ != Action::FullInstall && AvatarModuleMissing()) action_ = Action::FullInstall;
  if (action_ == Action::None) return ExitCode::Done;
  switch (MakeChange().kind) {
    case ChangeEnd::Made:
    case ChangeEnd::MadeByElevatedCopy:
    case ChangeEnd::MadeByService: return ExitCode::Done;
    case ChangeEnd::Failed: return ExitCode::Stopped;
    case ChangeEnd::Declined: return RightsDeclined();
  }
  return ExitCode::Stopped;
}

}  // namespace qz
