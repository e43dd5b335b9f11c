// What the launcher does after start-up: the avatar module check, then the
// normal flow (manifest, start / upgrade / install) or one of the two setup
// modes the page can ask for.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "base/field_text.h"
#include "base/folders.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "format/web_address.h"
#include "launcher/launcher_app.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "update/manifest_fetch.h"
#include "update/progress_text.h"
#include "update/version_decision.h"

namespace qz {

namespace {

bool AskReinstall() {
  // Only No stops; anything else counts as Yes.
  return ShowMessage(nullptr, texts::kReinstallQuestion, texts::kNoticeCaption, MB_YESNO) != IDNO;
}

// A started game completes the run.
ExitCode Started(bool started) { return started ? ExitCode::Done : ExitCode::Stopped; }

}  // namespace

void LauncherApp::DecideAction() {
  action_ = DecideVersionAction(plan_.installedVer, plan_.minVer, plan_.latestVer);
  if (action_ == Action::Upgrade) SortByVersion(plan_.updateList);
  const char* decided = action_ == Action::FullInstall ? "full installation"
                        : action_ == Action::Upgrade   ? "upgrade"
                                                       : "nothing to do";
  runlog::Write("decide", plan_.progName + ": installed " + std::to_string(plan_.installedVer) +
                              ", minimum " + std::to_string(plan_.minVer) + ", latest " +
                              std::to_string(plan_.latestVer) + ": " + decided);
}

LauncherApp::TargetCheck LauncherApp::CheckTarget(Target target) {
  const bool avatar = target == Target::AvatarModule;
  if ((avatar ? block_.CommonURL : block_.AutoDownURL)[0] == '\0') return TargetCheck::NoAddress;
  target_ = target;
  action_ = Action::None;
  const ManifestRead manifest = FetchManifestWithWait(avatar ? texts::kWaitAvatar : texts::kWaitGame);
  if (!manifest.read) {
    ShowMessage(nullptr, manifest.outOfDate ? texts::kUpdateOutOfDate : texts::kUpdateFailed, nullptr, MB_OK);
    return TargetCheck::Failed;
  }
  DecideAction();
  return TargetCheck::Decided;
}

ExitCode LauncherApp::NormalFlow() {
  switch (CheckTarget(Target::Game)) {
    case TargetCheck::NoAddress: return ExitCode::Done;
    case TargetCheck::Failed: return ExitCode::Stopped;
    case TargetCheck::Decided: break;
  }
  UpdatePlan& p = plan_;
  if (action_ != Action::FullInstall && !ExecutablePresent(p.gameExe)) {
    if (!AskReinstall()) return ExitCode::Stopped;
    action_ = Action::FullInstall;
  }
  if (action_ == Action::None) return Started(StartGameWithHandOver(p.gameExe, p.gameDir));

  const ChangeEnd change = MakeChange();
  if (change.kind == ChangeEnd::Failed) return ExitCode::Stopped;
  if (change.kind == ChangeEnd::Declined) return RightsDeclined();
  if (action_ == Action::FullInstall) {
    // A setup program installs the game and writes its record itself (the
    // elevated copy only ever unpacks an archive).
    if (change.kind == ChangeEnd::Made && !HasZipExtension(change.wizard.installerPath.c_str())) {
      switch (RunSetupProgram(change.wizard)) {
        case SetupEnd::Done: break;
        case SetupEnd::Failed: return ExitCode::Stopped;
        case SetupEnd::Declined: return RightsDeclined();
      }
    }
    const settings::InstallRecord record = settings::ReadInstallRecord(p.progName.c_str());
    p.installedVer = record.version;
    p.gameDir = record.runDir;
    p.gameExe = record.runFile;
    // The setup program installed an older release: the next pass patches it.
    if (p.installedVer != 0 && p.installedVer < p.latestVer) return ExitCode::SecondPass;
  }
  if (change.wizard.setStartPage) SetBrowserStartPage();
  // The elevated copy and the service showed no choices: the box for the
  // game's start counts as ticked, as it is by default.
  const bool autoRun = change.kind == ChangeEnd::MadeByElevatedCopy ||
                       change.kind == ChangeEnd::MadeByService || change.wizard.autoRun;
  if (autoRun) return Started(StartGameWithHandOver(p.gameExe, p.gameDir));
  return ExitCode::Done;
}

void LauncherApp::LoadSetupTrust() {
  setupTrust_ = SetupTrust{};
  setupTrust_.keys = LoadManifestTrust();
  if (!setupTrust_.keys.problem.empty())
    runlog::Write("trust", setupTrust_.keys.problem + ": nothing verifies");
  const settings::ProductKeyList listed = settings::ReadProductKeys("GameLocations", ViewPolicy::EveryView);
  setupTrust_.gameLocations = listed.lines;
  setupTrust_.required =
      setupTrust_.keys.signatureRequired || listed.state == settings::ProductKeyList::State::Unusable;
  if (listed.state == settings::ProductKeyList::State::Unusable) {
    // Someone meant to limit the locations: refuse them all rather than none.
    runlog::Write("trust",
                  "GameLocations is not a list of locations (type, size or content): no location is read, "
                  "and the installer must be signed");
  }
}

bool LauncherApp::TakeInstallerSignature() {
  const std::string& url = plan_.fullDnUrl;
  std::optional<std::vector<P256Signature>> signatures;
  if (!url.empty()) signatures = FetchSignatures(http_, url);
  const bool taken = signatures && !setupTrust_.keys.keys.empty() && setupTrust_.keys.problem.empty();
  runlog::Write(
      "trust",
      "GET " + SignatureAddress(url) + ": " +
          (taken ? std::string("read; the installer must verify with it")
                 : std::string("no signature a configured key could verify: the installer is refused")));
  if (!taken) return false;
  plan_.fullDnHash.signatures = *signatures;
  plan_.fullDnHash.signers = setupTrust_.keys.keys;
  plan_.fullDnHash.signaturesRequired = setupTrust_.keys.signaturesRequired;
  return true;
}

ExitCode LauncherApp::SetupFlow(bool link) {
  // The page's installer: no manifest names it, nor states its hash. With
  // keys configured its publisher's signature stands in for the hash.
  plan_ = UpdatePlan{};
  plan_.progName = FieldText(block_.ProgName);
  // An address that fills its field may have been cut: never fetch it.
  const std::string url = FieldText(block_.FullDownURL);
  plan_.fullDnUrl = url.size() < sizeof block_.FullDownURL ? url : std::string();
  target_ = Target::Game;
  LoadSetupTrust();
  ParseSetupParameters();
  const GameLocation before = ReadGameLocation();

  UpdatePlan& p = plan_;
  p.gameDir = before.dir;
  p.gameExe = before.exe;
  const SetupParameters& s = setup_;
  if (p.gameExe.empty() && !before.refused) {
    action_ = Action::FullInstall;
  } else if (ExecutablePresent(p.gameExe)) {
    action_ = Action::None;
  } else {
    if (!AskReinstall()) return ExitCode::Stopped;
    action_ = Action::FullInstall;
  }
  if (action_ == Action::None) {
    return Started(StartGameWithArguments(p.gameExe, p.gameDir, s.parm, s.useMutex, s.mutexName));
  }

  if (link) {
    if (!AskReinstall()) return ExitCode::Stopped;
    // Only an address we would download from is handed to the shell: a page
    // must not be able to open a local program or file this way, nor send the
    // player to a setup program over plain http.
    if (!IsFetchUrl(p.fullDnUrl.c_str())) return ExitCode::Stopped;
    ShellExecuteA(nullptr, "open", p.fullDnUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return ExitCode::Done;
  }
  // Asked before the download, so an unsigned installer never reaches the disk.
  if (setupTrust_.required && !TakeInstallerSignature()) {
    ShowMessage(nullptr, texts::kInstallerNotSigned, texts::kNoticeCaption, MB_OK);
    return ExitCode::Stopped;
  }
  const WizardEnd wizard = RunWizard();
  if (wizard.result == DialogEnd::Failed) return ExitCode::Stopped;
  if (!HasZipExtension(wizard.installerPath.c_str())) {
    switch (RunSetupProgram(wizard)) {
      case SetupEnd::Done: break;
      case SetupEnd::Failed: return ExitCode::Stopped;
      case SetupEnd::Declined: return RightsDeclined();
    }
  }
  const GameLocation after = ReadGameLocation();
  p.gameDir = after.dir;
  p.gameExe = after.exe;
  if (wizard.setStartPage) SetBrowserStartPage();
  if (wizard.autoRun)
    return Started(StartGameWithArguments(p.gameExe, p.gameDir, s.parm, s.useMutex, s.mutexName));
  return ExitCode::Done;
}

ExitCode LauncherApp::RunModes() {
  const ExitCode avatar = CheckAvatarModule();
  if (avatar != ExitCode::Done) return avatar;
  const std::string mode = FieldText(block_.RunMode);
  if (mode == "Vltw_OnlySetup") return SetupFlow(false);
  if (mode == "Vltw_LinkSetup") return SetupFlow(true);
  const ExitCode first = NormalFlow();
  if (first != ExitCode::SecondPass) return first;
  return NormalFlow() != ExitCode::Stopped ? ExitCode::SecondPass : ExitCode::Stopped;
}

}  // namespace qz
