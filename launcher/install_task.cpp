#include "launcher/install_task.h"

#include "base/run_log.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/wizard_link.h"

namespace qz {

namespace {

// Cancel -> Yes ends the launcher within 2 s whatever the worker waits on.
constexpr DWORD kQuietStopMs = 150;
constexpr DWORD kAbortStopMs = 1200;

int ControlOf(ProgressSink::Line line) {
  switch (line) {
    case ProgressSink::Line::Count: return IDC_COUNT;
    case ProgressSink::Line::Item: return IDC_ITEM;
    case ProgressSink::Line::Position: return IDC_POSITION;
    case ProgressSink::Line::Speed: return IDC_SPEED;
  }
  return IDC_ITEM;
}

}  // namespace

bool WizardProgress::StopRequested() const { return wizard::StopRequested(); }

bool WizardProgress::ShowLine(Line line, const std::wstring& text) {
  return wizard::SetText(ControlOf(line), text.c_str());
}

bool WizardProgress::ShowPercent(unsigned percent) { return wizard::SetProgress(percent); }

void WizardProgress::ShowFailure(const std::wstring& message) {
  ShowMessage(nullptr, message.c_str(), nullptr, MB_OK);
}

void WizardProgress::Finish(int result) { wizard::Finish(wizard_, result); }

DownloadTask::DownloadTask(DownloadRequest request, Handle& thread)
    : request_(std::move(request)), thread_(thread) {}

DownloadTask::~DownloadTask() {
  if (Running()) Stop();
}

bool DownloadTask::Start(HWND wizard, const std::string& setupSavePath) {
  request_.setupSavePath = setupSavePath;
  sink_ = WizardProgress(wizard);
  thread_.reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
  return Running();
}

void DownloadTask::Stop() {
  wizard::RequestStop();
  // A read waiting on the network ends when its request is closed; a worker
  // that just finished ends by itself.
  if (request_.http) request_.http->AbortRequest();
  if (!wizard::WaitForWorker(thread_.get(), kQuietStopMs)) {
    // Still waiting (an open still connecting, a send): closing the session
    // ends it, and the stopped run makes no more requests.
    runlog::Write("wizard", "stop: the download still waits on the network; closing the session");
    if (request_.http) request_.http->Abort();
    if (!wizard::WaitForWorker(thread_.get(), kAbortStopMs)) {
      runlog::Write("wizard", "stop: the download did not end; the launcher ends now");
      // The worker uses this task, which is about to go: ending the process
      // is the only way left that neither waits forever nor kills a thread
      // that may hold a lock the exit needs. The stop means "cancelled" (0).
      TerminateProcess(GetCurrentProcess(), 0);
    }
  }
  thread_.reset();
}

DWORD WINAPI DownloadTask::ThreadMain(LPVOID self) {
  auto* task = static_cast<DownloadTask*>(self);
  // Nothing may leave the thread: any unexpected error fails the wizard.
  try {
    return static_cast<DWORD>(RunDownload(task->request_, task->sink_, task->outcome_));
  } catch (...) {
    task->sink_.Finish(2);
    return 0;
  }
}

}  // namespace qz
