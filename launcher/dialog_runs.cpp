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
    const std::string url = FieldText(target == Target::AvatarModule ? block.CommonURL : block.AutoDownURL);
    return ReadManifest(url.c_str());
  };
  return RunWaitDialog(instance, request);
}

DialogEnd LauncherApp::RunWizard() {
  DownloadRequest download;
  download.http = &httpClient;
  download.workDir = workDir;
  if (action == Action::FullInstall) {
    UpdateFile file;
    file.version = latestVer;
    CopyCut(file.url, fullDnUrl);
    file.hash = fullDnHash;
    download.files.push_back(file);
  } else {
    for (const auto& file : updateList) download.files.push_back(*file);
  }
  download.destination = target == Target::AvatarModule ? commonFilesDir : gameDir;
  download.gameInstaller = target == Target::Game && action == Action::FullInstall;
  // The pauses before another try: 1 s, 4 s, 16 s; a test machine shortens
  // them through the product key (no page can reach it).
  const DWORD pause = settings::ReadProductNumber("RetryDelayMs", 1000);
  download.retryDelaysMs = {pause, pause * 4, pause * 16};
  DownloadTask task(std::move(download), workerThread);

  WizardRequest request;
  request.page = target == Target::AvatarModule ? WizardRequest::ProgressAvatar
                 : action == Action::Upgrade      ? WizardRequest::ConfirmUpgrade
                                                  : WizardRequest::Confirm;
  request.fullInstall = action == Action::FullInstall;
  request.installerUrl = fullDnUrl;
  request.task = &task;
  const WizardResult result = RunWizardDialog(instance, request);
  runlog::Write("wizard", result.result == DialogEnd::Done ? "done" : "failed or cancelled");

  if (result.autoRun) autoRun = 1;
  if (result.setStartPage) setStartPage = 1;
  if (!result.setupSavePath.empty()) CopyCut(setupSavePath, result.setupSavePath);
  if (!task.Outcome().installerPath.empty()) CopyCut(installerPath, task.Outcome().installerPath);
  return result.result;
}

DialogEnd LauncherApp::RunSetupProgram() {
  SetupRunRequest request;
  request.programPath = installerPath;
  request.keepProgram = setupSavePath[0] != '\0';
  request.process = &installerProcess;
  runlog::Write("setup", std::string("run ") + installerPath);
  const DialogEnd result = RunSetupRunDialog(instance, request);
  runlog::Write("setup", result == DialogEnd::Done ? "ended" : "not started or cancelled");
  return result;
}

}  // namespace qz
