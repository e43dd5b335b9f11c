// Which process makes a change to the installation. The launcher runs with
// the player's rights; it makes a change itself when its own token may write
// every place the change touches, and otherwise hands the whole change to a
// copy of itself that the player starts with administrator rights (one
// prompt). That copy trusts nothing the first launcher computed: it takes
// the launch record over and repeats the check from the manifest on. It
// never starts the game, opens a page or touches the browser; the first
// launcher waits for it and then starts the game with the player's rights.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/access_list.h"
#include "base/admin_change.h"
#include "base/field_text.h"
#include "base/folders.h"
#include "base/guarded_write.h"
#include "base/rights.h"
#include "base/run_log.h"
#include "base/service_channel.h"
#include "base/settings.h"
#include "base/shell_start.h"
#include "launcher/install_task.h"
#include "launcher/launcher_app.h"
#include "record/handover.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "update/manifest_trust.h"
#include "update/progress_text.h"

namespace qz {

namespace {

constexpr char kChangeMutex[] = "Quorlynx.change";
// How long a launcher waits for the maintenance service to start.
constexpr DWORD kServiceStartMs = 10000;
// The elevated copy's log lines come back in the section, after the record.
constexpr std::size_t kRoomBytes = 64 * 1024 - sizeof(LaunchBlock);

// Support and test setting that only the machine's administrators can set:
// 1, the rights check answers "may not write" everywhere; 2, only for the
// files a patch replaces (the folder and the record may be written).
enum class NoWriteRights { Off, Everywhere, ReplacedFiles };
NoWriteRights TestNoWriteRights() {
  switch (settings::ReadProductNumber("TestNoWriteRights", 0)) {
    case 0: return NoWriteRights::Off;
    case 2: return NoWriteRights::ReplacedFiles;
    default: return NoWriteRights::Everywhere;
  }
}

// Waits for the process while this thread's messages are still served.
DWORD ExitCodeWhenEnded(HANDLE process) {
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    if (woke != WAIT_OBJECT_0 + 1) return STILL_ACTIVE;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  DWORD code = STILL_ACTIVE;
  return GetExitCodeProcess(process, &code) ? code : STILL_ACTIVE;
}

// The elevated copy's lines, each kept as one line of ours.
void CopyLinesOf(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) runlog::Write("elevated", line);
    start = end + 1;
  }
}

// Lines logged after the room is gone would land in unmapped memory.
struct RoomInUse {
  explicit RoomInUse(const SectionRoom& room) { runlog::MirrorTo(room.bytes, room.size); }
  ~RoomInUse() { runlog::MirrorTo(nullptr, 0); }
  RoomInUse(const RoomInUse&) = delete;
  RoomInUse& operator=(const RoomInUse&) = delete;
};

}  // namespace

bool LauncherApp::ChangeWritesInstallation(const std::string& installerPath) const {
  return target_ == Target::AvatarModule || action_ == Action::Upgrade ||
         HasZipExtension(plan_.fullDnUrl.c_str()) || HasZipExtension(installerPath.c_str());
}

std::function<bool(const std::string&)> LauncherApp::WriteCheck() const {
  const NoWriteRights test = TestNoWriteRights();
  // One answer per folder, however many files of a patch go there.
  auto rights = std::make_shared<WriteRights>();
  return [test, rights](const std::string& path) {
    if (test == NoWriteRights::Everywhere) return false;
    if (test == NoWriteRights::ReplacedFiles) {
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    }
    return rights->May(path);
  };
}

bool LauncherApp::MayMakeChange() {
  const bool avatar = target_ == Target::AvatarModule;
  const std::string destination = avatar ? commonFilesDir_ : plan_.gameDir;
  // No folder to unpack into is for the wizard to report, not a question of rights.
  const bool folder = destination.empty() || WriteCheck()(destination);
  const bool record = TestNoWriteRights() != NoWriteRights::Everywhere &&
                      settings::MayWriteRecord(plan_.progName.c_str(), avatar);
  runlog::Write("rights", std::string("this account ") + (folder ? "may" : "may not") + " write " +
                              (destination.empty() ? "(no folder)" : destination) + " and " +
                              (record ? "may" : "may not") + " write the record of " + plan_.progName);
  return folder && record;
}

ChangeEnd LauncherApp::MakeChange() {
  if (!elevatedCopy_ && ChangeWritesInstallation("") && !MayMakeChange()) return ChangeByAdministrator();
  // Every file an archive replaces is checked too, before the first is
  // written; the elevated copy has nobody to hand the change on to.
  ChangeEnd end;
  end.wizard = RunWizard(elevatedCopy_ ? nullptr : WriteCheck());
  if (end.wizard.result == DialogEnd::Failed) {
    if (end.wizard.rightsNeeded) return ChangeByAdministrator();
    return end;
  }
  // What was unpacked is recorded; a setup program records its own release.
  const bool unpacked = target_ == Target::AvatarModule || action_ != Action::FullInstall ||
                        HasZipExtension(end.wizard.installerPath.c_str());
  if (unpacked && !WriteVersion()) {
    // Never left silent: an unrecorded release would be downloaded again at every start.
    ShowMessage(nullptr, texts::kVersionWriteFailed, nullptr, MB_OK);
    return end;
  }
  // An administrator's change raises the machine's floor and records where
  // the release came from, where only administrators may write.
  if (elevatedCopy_ && unpacked) {
    const bool kept = settings::RecordMachineManifest(plan_.progName.c_str(), plan_.serial, manifestUrl_,
                                                      target_ == Target::AvatarModule);
    runlog::Write("record", plan_.progName + ": Serial " + std::to_string(plan_.serial) +
                                " and the manifest's address " + (kept ? "kept" : "not kept"));
  }
  end.kind = ChangeEnd::Made;
  return end;
}

bool LauncherApp::MachineTrustsSignedReleasesOnly(std::string& why) {
  const ManifestTrust trust = LoadManifestTrust();
  if (!trust.problem.empty()) {
    why = trust.problem;
    return false;
  }
  if (!trust.signatureRequired || trust.keys.empty()) {
    why = "no ManifestKeys are configured on this PC";
    return false;
  }
  return true;
}

ChangeEnd LauncherApp::ChangeByAdministrator() {
  std::string why = "it applies only upgrades of games";
  if (target_ == Target::Game && action_ == Action::Upgrade) {
    if (settings::ReadProductNumber("ServiceDisabled", 0) != 0) {
      why = "it is turned off on this PC (ServiceDisabled)";
    } else if (std::optional<ChangeEnd> end = ChangeThroughService(why)) {
      return *end;
    }
  }
  runlog::Write("rights", "not through the maintenance service: " + why + "; asking the elevated copy");
  return ChangeThroughElevatedCopy();
}

std::optional<ChangeEnd> LauncherApp::ChangeThroughService(std::string& why) {
  FileHandle pipe = OpenServiceChannel(kServiceStartMs, why);
  if (!pipe) return std::nullopt;
  // The program's name is all it is told: it reads everything else from the
  // machine's own records.
  if (!WriteServiceMessage(pipe.get(), ServiceRequestText(plan_.progName))) {
    why = "the request could not be sent: " + runlog::ErrorText(GetLastError());
    return std::nullopt;
  }
  runlog::Write("rights", "asked the maintenance service to bring " + plan_.progName + " up to date");
  ServiceTask task(std::move(pipe), static_cast<int>(plan_.updateList.size()), workerThread_);
  WizardRequest request;
  request.page = WizardRequest::ProgressGame;
  request.task = &task;
  RunWizardDialog(instance_, request);
  const ServiceReply& answer = task.Answer();
  runlog::Write("rights",
                "the maintenance service answered: " + ServiceOutcomeText(answer.outcome, answer.refusal));
  switch (answer.outcome) {
    case ServiceOutcome::Applied:
    case ServiceOutcome::Current: return ChangeEnd{ChangeEnd::MadeByService, {}};
    case ServiceOutcome::Refused:
      why = std::string("it refused (") + ServiceRefusalWord(answer.refusal) + ")";
      return std::nullopt;
    case ServiceOutcome::Failed: break;
  }
  // Not the player's cancel: the service's log lines above say what failed.
  if (!task.Cancelled()) ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
  return ChangeEnd{};
}

ChangeEnd LauncherApp::ChangeThroughElevatedCopy() {
  const bool avatar = target_ == Target::AvatarModule;
  // Administrator rights go only to releases the machine's keys signed: the
  // launch record, and so the manifest's address, is the page's. Asked here
  // too, so the player is not asked for rights the copy would not use.
  std::string why;
  if (!MachineTrustsSignedReleasesOnly(why)) {
    runlog::Write("rights", "not asking for administrator rights: " + why +
                                ", and an administrator's change takes only signed releases");
    ShowMessage(nullptr, texts::kUnsignedChangeRefused, nullptr, MB_OK);
    return ChangeEnd{};
  }
  const std::string windows = SystemWindowsFolder();
  PublishedRecord record;
  if (windows.empty() ||
      !record.Publish(block_, SectionForm::Launcher, kRoomBytes, SectionAccess::ElevatedCopy)) {
    runlog::Write("rights", "the launch record could not be published for the elevated copy");
    ShowMessage(nullptr, texts::kElevationFailed, nullptr, MB_OK);
    return ChangeEnd{};
  }
  ShellStart start;
  start.verb = "runas";
  start.program = InstalledLauncherPath();
  start.parameters = ChangeLineText(avatar, record.Name());
  start.directory = windows;
  runlog::Write("rights", "asking for administrator rights for " + start.program + " " + start.parameters);
  Handle process;
  const DWORD error = StartThroughShell(start, process);
  if (error == ERROR_CANCELLED) return ChangeEnd{ChangeEnd::Declined, {}};
  if (error != 0) {
    runlog::Write("rights", "the elevated copy did not start: " + runlog::ErrorText(error));
    ShowMessage(nullptr, texts::kElevationFailed, nullptr, MB_OK);
    return ChangeEnd{};
  }
  const std::string copy = "the elevated copy (process " + std::to_string(GetProcessId(process.get())) + ")";
  runlog::Write("rights", copy + " runs; waiting for it");
  const DWORD code = ExitCodeWhenEnded(process.get());
  CopyLinesOf(runlog::RoomText(record.Room(), record.RoomSize()));
  runlog::Write("rights", copy + " ended with exit code " + std::to_string(code));
  switch (static_cast<ExitCode>(code)) {
    case ExitCode::ChangeMade: return ChangeEnd{ChangeEnd::MadeByElevatedCopy, {}};
    case ExitCode::ChangeFailed:
    case ExitCode::Stopped: return ChangeEnd{};  // it told the player why
    default: ShowMessage(nullptr, texts::kElevationFailed, nullptr, MB_OK); return ChangeEnd{};
  }
}

ExitCode LauncherApp::RightsDeclined() {
  runlog::Write("rights", "the player declined administrator rights: nothing was changed");
  ShowMessage(nullptr, texts::kRightsDeclined, nullptr, MB_OK);
  return ExitCode::Declined;
}

ExitCode LauncherApp::RunElevatedChange(const ChangeLine& line) {
  // Held for the life of the process.
  static ChangeLock lock;
  if (lock.Busy()) {
    ShowMessage(nullptr, texts::kAlreadyRunning, nullptr, MB_OK);
    return ExitCode::Stopped;
  }
  ResetState();
  elevatedCopy_ = true;
  // Whatever it writes in a folder the player may write too goes through no
  // link the player planted.
  GuardWrites();
  // Of the first launcher only the launch record is taken, copied out at
  // once, and only from a section its player's processes cannot rewrite.
  if (!OnlyAdministratorsMayChangeSection(line.section.c_str()) || !TakeOver(line.section.c_str())) {
    ShowMessage(nullptr, texts::kDataReadFailed, nullptr, MB_OK);
    return ExitCode::Stopped;
  }
  // The log goes back to the first launcher, whose log file is the player's:
  // nothing is written with these rights where the player's programs can write.
  const SectionRoom room = OpenRoomAfterBlock(line.section.c_str());
  RoomInUse mirrored(room);
  runlog::Write("start", "elevated copy, process " + std::to_string(GetCurrentProcessId()) + ": " +
                             (line.avatar ? "the avatar module" : "the game") + ", run mode \"" +
                             FieldText(block_.RunMode) + "\", program \"" + FieldText(block_.ProgName) +
                             "\"");
  if (lock.PassedOverForeign())
    runlog::Write("start", "the lock of elevated changes was made by another account: passed over");
  FindCommonFilesDir();
  ExitCode code = ExitCode::ChangeFailed;
  std::string untrusted;
  if (!MachineTrustsSignedReleasesOnly(untrusted)) {
    runlog::Write("start", "nothing changed: " + untrusted +
                               ", and an administrator's change takes only signed releases");
    ShowMessage(nullptr, texts::kUnsignedChangeRefused, nullptr, MB_OK);
  } else if (AdminWorkFolder folder; folder.Path().empty()) {
    runlog::Write("start", "no work folder of its own: " + runlog::ErrorText(GetLastError()));
    ShowMessage(nullptr, texts::kElevationFailed, nullptr, MB_OK);
  } else {
    workDir_ = folder.Path();
    OpenHttpSession();
    code = ElevatedChange(line.avatar);
  }
  runlog::Write("end", "exit code " + std::to_string(static_cast<int>(code)));
  return code;
}

ExitCode LauncherApp::ElevatedChange(bool avatar) {
  switch (CheckTarget(avatar ? Target::AvatarModule : Target::Game)) {
    case TargetCheck::NoAddress:
      runlog::Write("decide", "the launch record names no manifest for it");
      ShowMessage(nullptr, texts::kUpdateFailed, nullptr, MB_OK);
      return ExitCode::ChangeFailed;
    case TargetCheck::Failed: return ExitCode::ChangeFailed;
    case TargetCheck::Decided: break;
  }
  // As the first launcher decides, without its question: the player already
  // agreed there to install again what is missing.
  if (action_ != Action::FullInstall &&
      (avatar ? AvatarModuleMissing() : !ExecutablePresent(plan_.gameExe))) {
    action_ = Action::FullInstall;
  }
  if (action_ == Action::None) {
    runlog::Write("decide", "already current: nothing to change");
    return ExitCode::ChangeMade;
  }
  if (!ChangeWritesInstallation("")) {
    runlog::Write("decide", "a setup program is never run with these rights");
    ShowMessage(nullptr, texts::kElevationFailed, nullptr, MB_OK);
    return ExitCode::ChangeFailed;
  }
  return MakeChange().kind == ChangeEnd::Made ? ExitCode::ChangeMade : ExitCode::ChangeFailed;
}

}  // namespace qz
