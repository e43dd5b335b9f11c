// The launcher's side of its dialogs: what each is asked to do and what the
// flows take from its result.
#include "base/field_text.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "launcher/install_task.h"
#include "launcher/launcher_app.h"
#include "ui/dialogs.h"

namespace qz {

DialogEnd LauncherApp::FetchManifestWithWait(const wchar_t* text) {
  WaitRequest request;
  request.text = text;
  request.work = [this] {
    // The block field may fill its width: take it bounded.
    const std::string url = FieldText(target_ == Target::AvatarModule ? block_.CommonURL : block_.AutoDownURL);
    return ReadManifest(url.c_str());
  };
  return RunWaitDialog(instance_, request);
}

DialogEnd LauncherApp::RunWizard() {
  DownloadRequest download;
  download.http = &http_;
  download.workDir = workDir_;
  if (action_ == Action::FullInstall) {
    UpdateFile file;
    file.version = plan_.latestVer;
    CopyCut(file.url, plan_.fullDnUrl);
    file.hash = plan_.fullDnHash;
    download.files.push_back(file);
  } else {
    for (const auto& file : plan_.updateList) download.files.push_back(*file);
  }
  download.destination = target_ == Target::AvatarModule ? commonFilesDir_ : plan_.gameDir;
  download.gameInstaller = target_ == Target::Game && action_ == Action::FullInstall;
  // The pauses before another try: 1 s, 4 s, 16 s; a test machine shortens
  // them through the product key (no page can reach it).
  const DWORD pause = settings::ReadProductNumber("RetryDelayMs", 1000);
  download.retryDelaysMs = {pause, pause * 4, pause * 16};
  DownloadTask task(std::move(download), workerThread_);

  WizardRequest request;
  request.page = target_ == Target::AvatarModule ? WizardRequest::ProgressAvatar
                 : action_ == Action::Upgrade      ? WizardRequest::ConfirmUpgrade
                                                   : WizardRequest::Confirm;
  request.fullInstall = action_ == Action::FullInstall;
  request.installerUrl = plan_.fullDnUrl;
  request.task = &task;
  const WizardResult result = RunWizardDialog(instance_, request);
  runlog::Write("wizard", result.result == DialogEnd::Done ? "done" : "failed or cancelled");

  if (result.autoRun) autoRun_ = true;
  if (result.setStartPage) setStartPage_ = true;
  if (!result.setupSavePath.empty()) CopyCut(setupSavePath_, result.setupSavePath);
  if (!task.Outcome().installerPath.empty()) CopyCut(installerPath_, task.Outcome().installerPath);
  return result.result;
}

DialogEnd LauncherApp::RunSetupProgram() {
  SetupRunRequest request;
  request.programPath = installerPath_;
  request.keepProgram = setupSavePath_[0] != '\0';
  request.process = &installerProcess_;
  runlog::Write("setup", std::string("run ") + installerPath_);
  const DialogEnd result = RunSetupRunDialog(instance_, request);
  runlog::Write("setup", result == DialogEnd::Done ? "ended" : "not started or cancelled");
  return result;
}

}  // namespace qz
