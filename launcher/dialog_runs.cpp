// The launcher's side of its dialogs: what each is asked to do and what the
// flows take from its result.
#include <windows.h>
#include <sddl.h>

#include "base/access_list.h"
#include "base/field_text.h"
#include "base/private_folder.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "base/win_text.h"
#include "launcher/install_task.h"
#include "launcher/launcher_app.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/worker_words.h"
#include "update/digest.h"

namespace qz {

LauncherApp::ManifestRead LauncherApp::FetchManifestWithWait(const wchar_t* text) {
  ManifestRead read;
  WaitRequest request;
  request.text = text;
  request.work = [this, &read] {
    // The block field may fill its width: take it bounded.
    read = ReadManifest(FieldText(target_ == Target::AvatarModule ? block_.CommonURL : block_.AutoDownURL));
    return read.read;
  };
  if (RunWaitDialog(instance_, request) == DialogEnd::Failed) read.read = false;
  return read;
}

WizardEnd LauncherApp::RunWizard(std::function<bool(const std::string&)> mayWrite) {
  DownloadRequest download;
  download.http = &http_;
  download.workDir = workDir_;
  if (action_ == Action::FullInstall) {
    UpdateFile file;
    file.version = plan_.latestVer;
    file.url = plan_.fullDnUrl;
    file.hash = plan_.fullDnHash;
    file.size = plan_.fullDnSize;
    download.files.push_back(file);
  } else {
    download.files = plan_.updateList;
  }
  download.destination = target_ == Target::AvatarModule ? commonFilesDir_ : plan_.gameDir;
  download.gameInstaller = target_ == Target::Game && action_ == Action::FullInstall;
  download.settings = LoadDownloadSettings();
  download.mirrors = plan_.mirrors;
  download.mayWrite = std::move(mayWrite);
  DownloadTask task(std::move(download), workerThread_);

  WizardRequest request;
  request.page = target_ == Target::AvatarModule ? WizardRequest::ProgressAvatar
                 : elevatedCopy_                 ? WizardRequest::ProgressGame
                 : action_ == Action::Upgrade    ? WizardRequest::ConfirmUpgrade
                                                 : WizardRequest::Confirm;
  request.fullInstall = action_ == Action::FullInstall;
  request.installerUrl = plan_.fullDnUrl.c_str();
  request.task = &task;
  const WizardResult result = RunWizardDialog(instance_, request);
  runlog::Write("wizard", result.result == DialogEnd::Done ? "done" : "failed or cancelled");

  WizardEnd end;
  end.result = result.result;
  end.autoRun = result.autoRun;
  end.setStartPage = result.setStartPage;
  end.setupSavePath = result.setupSavePath;
  end.installerPath = task.Outcome().installerPath;
  end.rightsNeeded = task.Outcome().rightsNeeded;
  return end;
}

namespace {

// The setup program moved (or, when the player keeps it, copied) into a new
// folder of the work folder that holds nothing else: a program that runs with
// administrator rights must find no other download beside it to load. The
// folder is made the player's alone, held so it cannot be moved away, and
// sealed once the program is in (SealFolder): nothing the player's processes
// run can add a library beside it afterwards, and anything added before is
// found. The folder's path is returned too; "" when it could not be made.
struct StagedProgram {
  std::string program;  // "" when there is none
  std::string folder;
  FileHandle folderHold;
};

StagedProgram StageSetupProgram(const std::string& workDir, const std::string& program, bool keep) {
  StagedProgram staged;
  const std::string name = program.substr(program.find_last_of('\\') + 1);
  const std::string user = OwnUserSid();
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (user.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                            &descriptor, nullptr)) {
    return staged;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string folder =
        workDir + "setup-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + "\\";
    const std::string path = folder + name;
    if (path.size() >= kPathField) break;
    if (!CreateDirectoryA(folder.c_str(), &attributes)) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      break;
    }
    staged.folderHold.reset(CreateFileA(folder.c_str(), READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (staged.folderHold && (keep ? CopyFileA(program.c_str(), path.c_str(), TRUE)
                                   : MoveFileExA(program.c_str(), path.c_str(), 0))) {
      staged.program = path;
      staged.folder = folder;
      break;
    }
    staged.folderHold.reset();
    RemoveDirectoryA(folder.c_str());
    break;
  }
  LocalFree(descriptor);
  return staged;
}

}  // namespace

SetupEnd LauncherApp::RunSetupProgram(const WizardEnd& wizard) {
  StagedProgram staged = StageSetupProgram(workDir_, wizard.installerPath, !wizard.setupSavePath.empty());
  const std::string& program = staged.program;
  const std::string& folder = staged.folder;
  if (program.empty()) {
    runlog::Write("setup", "could not move " + wizard.installerPath + " into a folder of its own");
    return SetupEnd::Failed;
  }
  auto removeStaged = [&staged] {
    DeleteFileA(staged.program.c_str());
    staged.folderHold.reset();
    RemoveDirectoryA(staged.folder.c_str());
  };
  // The program that runs is the file that was checked: its hash is taken
  // again through a handle that shuts writers out until it has run.
  bool mismatch = false;
  FileHandle held = HoldChecked(program, plan_.fullDnHash, mismatch);
  if (!held) {
    runlog::Write("setup", program + (mismatch ? ": SHA-256 differs from the published one: deleted"
                                               : ": cannot be held: " + runlog::ErrorText(GetLastError())));
    removeStaged();
    if (mismatch) {
      ShowMessage(nullptr, FailureText(FailureKind::HashMismatch, AnsiToWide(plan_.fullDnUrl)).c_str(),
                  nullptr, MB_OK);
    }
    return SetupEnd::Failed;
  }
  std::string why;
  if (!SealFolder(staged.folderHold.get(), folder, program.substr(folder.size()), why)) {
    runlog::Write("setup", "not run: its folder " + folder + " could not be sealed: " + why);
    held.reset();
    removeStaged();
    return SetupEnd::Failed;
  }
  SetupRunRequest request;
  request.programPath = program;
  request.keepProgram = false;  // the staged copy; a kept program stays where it was saved
  request.process = &installerProcess_;
  runlog::Write("setup", "run " + program);
  const SetupEnd result = RunSetupRunDialog(instance_, request);
  runlog::Write("setup", result == SetupEnd::Done       ? "ended"
                         : result == SetupEnd::Declined ? "the player declined its rights"
                                                        : "not started or cancelled");
  // A program still running (the player stopped waiting) keeps its folder.
  held.reset();
  removeStaged();
  return result;
}

}  // namespace qz
