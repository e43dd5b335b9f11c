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

// A started game completes the run.
ExitCode Started(int started) { return started ? ExitCode::Done : ExitCode::Stopped; }

}  // namespace

void LauncherApp::DecideAction() {
  action = DecideVersionAction(installedVer, minVer, latestVer);
  if (action == Action::Upgrade) SortUpdateList();
  const char* decided = action == Action::FullInstall ? "full installation"
                        : action == Action::Upgrade   ? "upgrade"
                                                      : "nothing to do";
  runlog::Write("decide", std::string(progName) + ": installed " + std::to_string(installedVer) + ", minimum " +
                              std::to_string(minVer) + ", latest " + std::to_string(latestVer) + ": " + decided);
}

ExitCode LauncherApp::NormalFlow() {
  if (block.AutoDownURL[0] == '\0') return ExitCode::Done;
  target = Target::Game;
  action = Action::None;
  if (FetchManifestWithWait(texts::kWaitGame) == DialogEnd::Failed) {
    ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
    return ExitCode::Stopped;
  }
  DecideAction();
  if (action != Action::FullInstall && !ExecutablePresent(gameExe)) {
    if (!AskReinstall()) return ExitCode::Stopped;
    action = Action::FullInstall;
  }
  if (action == Action::None) return Started(StartGameWithHandOver(gameExe, gameDir));

  if (RunWizard() == DialogEnd::Failed) return ExitCode::Stopped;
  if (action == Action::FullInstall) {
    if (HasZipExtension(installerPath)) {
      // A full archive was unpacked by the wizard: there is no setup program
      // to run or to write the record, so the launcher records the release.
      WriteVersion();
    } else if (RunSetupProgram() == DialogEnd::Failed) {
      return ExitCode::Stopped;
    }
    installedVer = 0;
    ReadInstallRecord(progName, installedVer, gameDir, gameExe);
    // The setup program installed an older release: the next pass patches it.
    if (installedVer != 0 && installedVer < latestVer) return ExitCode::SecondPass;
  }
  if (action == Action::Upgrade) WriteVersion();
  if (setStartPage) SetBrowserStartPage();
  if (autoRun) return Started(StartGameWithHandOver(gameExe, gameDir));
  return ExitCode::Done;
}

ExitCode LauncherApp::SetupFlow(bool link) {
  installedVer = 0;
  ClearUpdateList();
  CopyCut(progName, FieldText(block.ProgName));
  // An address that fills its field may have been cut: never fetch it.
  const std::string url = FieldText(block.FullDownURL);
  CopyCut(fullDnUrl, url.size() < sizeof fullDnUrl ? url : std::string());
  fullDnHash = FileHash{};  // the page's installer: no manifest states its hash
  target = Target::Game;
  ParseSetupParameters();
  ReadGameLocation();

  if (gameExe[0] == '\0' && !gameLocationRefused) {
    action = Action::FullInstall;
  } else if (ExecutablePresent(gameExe)) {
    action = Action::None;
  } else {
    if (!AskReinstall()) return ExitCode::Stopped;
    action = Action::FullInstall;
  }
  if (action == Action::None) return Started(StartGameWithArguments(gameExe, gameDir, parm, useMutex, mutexName));

  if (link) {
    if (!AskReinstall()) return ExitCode::Stopped;
    // Only an address we would download from is handed to the shell: a page
    // must not be able to open a local program or file this way, nor send the
    // player to a setup program over plain http.
    if (!IsFetchUrl(fullDnUrl)) return ExitCode::Stopped;
    ShellExecuteA(nullptr, "open", fullDnUrl, nullptr, nullptr, SW_SHOWNORMAL);
    return ExitCode::Done;
  }
  if (RunWizard() == DialogEnd::Failed) return ExitCode::Stopped;
  if (!HasZipExtension(installerPath) && RunSetupProgram() == DialogEnd::Failed) return ExitCode::Stopped;
  ReadGameLocation();
  if (setStartPage) SetBrowserStartPage();
  if (autoRun) return Started(StartGameWithArguments(gameExe, gameDir, parm, useMutex, mutexName));
  return ExitCode::Done;
}

ExitCode RunModes(LauncherApp& app) {
  if (!app.CheckAvatarModule()) return ExitCode::Stopped;
  const std::string mode = FieldText(app.block.RunMode);
  if (mode == "Vltw_OnlySetup") return app.SetupFlow(false);
  if (mode == "Vltw_LinkSetup") return app.SetupFlow(true);
  const ExitCode first = app.NormalFlow();
  if (first != ExitCode::SecondPass) return first;
  return app.NormalFlow() != ExitCode::Stopped ? ExitCode::SecondPass : ExitCode::Stopped;
}

}  // namespace qz
