// What the launcher does after start-up: the avatar module check, then the
// normal flow (manifest, start / upgrade / install) or one of the two setup
// modes the page can ask for.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "base/field_text.h"
#include "base/run_log.h"
#include "launcher/launcher_app.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "update/progress_text.h"
#include "format/web_address.h"
#include "update/version_decision.h"

namespace qz {

namespace {

bool AskReinstall() {
  // Only No stops; anything else counts as Yes.
  return ShowMessage(nullptr, texts::kReinstallQuestion, texts::kNoticeCaption, MB_YESNO) != IDNO;
}

}  // namespace

void LauncherApp::DecideAction() {
  action = DecideVersionAction(installedVer, minVer, latestVer);
  if (action == ActionUpgrade) SortUpdateList();
  static const char* const kActions[] = {"nothing to do", "full installation", "upgrade"};
  runlog::Write("decide", std::string(progName) + ": installed " + std::to_string(installedVer) + ", minimum " +
                              std::to_string(minVer) + ", latest " + std::to_string(latestVer) + ": " +
                              (action >= 0 && action <= 2 ? kActions[action] : "?"));
}

int LauncherApp::NormalFlow() {
  if (block.AutoDownURL[0] == '\0') return 1;
  target = TargetGame;
  action = ActionNone;
  if (FetchManifestWithWait(texts::kWaitGame) == 2) {
    ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
    return 0;
  }
  DecideAction();
  if (action != ActionFullInstall && !ExecutablePresent(gameExe)) {
    if (!AskReinstall()) return 0;
    action = ActionFullInstall;
  }
  if (action == ActionNone) return StartGameWithHandOver(gameExe, gameDir);

  if (RunWizard() == 2) return 0;
  if (action == ActionFullInstall) {
    if (HasZipExtension(installerPath)) {
      // A full archive was unpacked by the wizard: there is no setup program
      // to run or to write the record, so the launcher records the release.
      WriteVersion();
    } else if (RunSetupProgram() == 2) {
      return 0;
    }
    installedVer = 0;
    ReadInstallRecord(progName, installedVer, gameDir, gameExe);
    // The setup program installed an older release: the next pass patches it.
    if (installedVer != 0 && installedVer < latestVer) return 2;
  }
  if (action == ActionUpgrade) WriteVersion();
  if (setStartPage) SetBrowserStartPage();
  if (autoRun) return StartGameWithHandOver(gameExe, gameDir);
  return 1;
}

int LauncherApp::SetupFlow(bool link) {
  installedVer = 0;
  ClearUpdateList();
  CopyCut(progName, FieldText(block.ProgName));
  // An address that fills its field may have been cut: never fetch it.
  const std::string url = FieldText(block.FullDownURL);
  CopyCut(fullDnUrl, url.size() < sizeof fullDnUrl ? url : std::string());
  fullDnHash = FileHash{};  // the page's installer: no manifest states its hash
  target = TargetGame;
  ParseSetupParameters();
  ReadGameLocation();

  if (gameExe[0] == '\0' && !gameLocationRefused) {
    action = ActionFullInstall;
  } else if (ExecutablePresent(gameExe)) {
    action = ActionNone;
  } else {
    if (!AskReinstall()) return 0;
    action = ActionFullInstall;
  }
  if (action == ActionNone) return StartGameWithArguments(gameExe, gameDir, parm, useMutex, mutexName);

  if (link) {
    if (!AskReinstall()) return 0;
    // Only an address we would download from is handed to the shell: a page
    // must not be able to open a local program or file this way, nor send the
    // player to a setup program over plain http.
    if (!IsFetchUrl(fullDnUrl)) return 0;
    ShellExecuteA(nullptr, "open", fullDnUrl, nullptr, nullptr, SW_SHOWNORMAL);
    return 1;
  }
  if (RunWizard() == 2) return 0;
  if (!HasZipExtension(installerPath) && RunSetupProgram() == 2) return 0;
  ReadGameLocation();
  if (setStartPage) SetBrowserStartPage();
  if (autoRun) return StartGameWithArguments(gameExe, gameDir, parm, useMutex, mutexName);
  return 1;
}

int RunModes(LauncherApp& app) {
  if (!app.CheckAvatarModule()) return 0;
  const std::string mode = FieldText(app.block.RunMode);
  if (mode == "Vltw_OnlySetup") return app.SetupFlow(false);
  if (mode == "Vltw_LinkSetup") return app.SetupFlow(true);
  const int first = app.NormalFlow();
  if (first != 2) return first;
  return app.NormalFlow() != 0 ? 2 : 0;
}

}  // namespace qz
