#include "launcher/install_task.h"

#include "base/run_log.h"
#include "base/service_channel.h"
#include "base/win_text.h"
#include "launcher/exit_code.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/wizard_link.h"
#include "ui/worker_words.h"
#include "update/progress_text.h"

namespace qz {

namespace {

// Cancel -> Yes ends the launcher within 2 s whatever the worker waits on.
constexpr DWORD kQuietStopMs = 150;
constexpr DWORD kAbortStopMs = 1200;

int ControlOf(ProgressSink::Line line) {
  switch (line) {
    case ProgressSink::Line::Count: return IDC_COUNT;
    case ProgressSink::Line::Speed: return IDC_SPEED;
    case ProgressSink::Line::TimeLeft: return IDC_TIME_LEFT;
  }
  return IDC_SPEED;
}

// Each fixed line has its place on the progress page.
int ControlOf(WorkerStatus status) {
  switch (status) {
    case WorkerStatus::SizeCheck: return IDC_COUNT;
    case WorkerStatus::File:
    case WorkerStatus::DownloadCompleted:
    case WorkerStatus::ExtractingFrom:
    case WorkerStatus::ExtractCompleted: return IDC_ITEM;
    case WorkerStatus::SavedAt:
    case WorkerStatus::ExtractingTo: return IDC_POSITION;
    case WorkerStatus::Extracting: return IDC_COUNT;
  }
  return IDC_ITEM;
}

}  // namespace

bool WizardProgress::StopRequested() const { return wizard::StopRequested(); }

bool WizardProgress::ShowLine(Line line, const std::wstring& text) {
  return wizard::SetText(ControlOf(line), text.c_str());
}

bool WizardProgress::ShowStatus(WorkerStatus status, const std::string& subject, const std::string& detail) {
  return wizard::SetText(ControlOf(status),
                         StatusText(status, AnsiToWide(subject), AnsiToWide(detail)).c_str());
}

bool WizardProgress::ShowPercent(unsigned percent) { return wizard::SetProgress(percent); }

bool WizardProgress::Settle() { return wizard::Settle(); }

void WizardProgress::ShowFailure(const WorkerFailure& failure) {
  const std::wstring text = FailureText(failure.kind, AnsiToWide(failure.subject), failure.bytesNeeded,
                                        Utf8ToWide(failure.entryUtf8));
  if (!text.empty()) ShowMessage(nullptr, text.c_str(), nullptr, MB_OK);
}

void WizardProgress::Finish(WorkerOutcome outcome) {
  wizard::Finish(wizard_, outcome == WorkerOutcome::Done ? DialogEnd::Done : DialogEnd::Failed);
}

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
      // that may hold a lock the exit needs. The stop means "cancelled".
      TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ExitCode::Stopped));
    }
  }
  thread_.reset();
}

DWORD WINAPI DownloadTask::ThreadMain(LPVOID self) {
  auto* task = static_cast<DownloadTask*>(self);
  // Nothing may leave the thread: any unexpected error fails the wizard.
  try {
    task->outcome_ = RunDownload(task->request_, task->sink_);
    return task->outcome_.outcome == WorkerOutcome::Done ? 1 : 0;
  } catch (...) {
    runlog::WriteCaught("download");
    task->sink_.Finish(WorkerOutcome::Failed);
    return 0;
  }
}

ServiceTask::ServiceTask(FileHandle pipe, int fileCount, Handle& thread)
    : pipe_(std::move(pipe)), fileCount_(fileCount), thread_(thread) {
  answer_.kind = ServiceReply::Outcome;
}

ServiceTask::~ServiceTask() {
  if (Running()) Stop();
}

bool ServiceTask::Start(HWND wizard, const std::string&) {
  sink_ = WizardProgress(wizard);
  thread_.reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
  return Running();
}

void ServiceTask::Stop() {
  cancelled_ = true;
  wizard::RequestStop();
  // The read waiting on the channel ends; the service, its caller gone,
  // stops its download as a cancel does.
  CancelSynchronousIo(thread_.get());
  if (!wizard::WaitForWorker(thread_.get(), kAbortStopMs)) {
    runlog::Write("wizard", "stop: the service's channel did not let go; the launcher ends now");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ExitCode::Stopped));
  }
  pipe_.reset();
  thread_.reset();
}

DWORD WINAPI ServiceTask::ThreadMain(LPVOID self) {
  auto* task = static_cast<ServiceTask*>(self);
  try {
    task->Run();
  } catch (...) {
    runlog::WriteCaught("service");
    task->answer_.outcome = ServiceOutcome::Failed;
  }
  const ServiceOutcome outcome = task->answer_.outcome;
  const bool done = outcome == ServiceOutcome::Applied || outcome == ServiceOutcome::Current;
  task->sink_.Finish(done ? WorkerOutcome::Done : WorkerOutcome::Failed);
  return done ? 1 : 0;
}

void ServiceTask::Run() {
  RateWindow rate;
  std::string file;
  int fileNumber = 0;
  const ULONGLONG start = GetTickCount64();
  for (std::string message; !sink_.StopRequested() && ReadServiceMessage(pipe_.get(), message);) {
    const std::optional<ServiceReply> reply = ParseServiceReply(message);
    if (!reply) {
      runlog::Write("service", "an answer that is not the channel's: the change is taken as failed");
      return;
    }
    if (reply->kind == ServiceReply::Log) {
      runlog::Write("service", reply->log);
      continue;
    }
    if (reply->kind == ServiceReply::Outcome) {
      answer_ = *reply;
      return;
    }
    const ServiceProgress& p = reply->progress;
    const bool newFile = p.file != file;
    file = p.file;
    switch (p.phase) {
      case ServicePhase::Manifest: break;
      case ServicePhase::Download: {
        if (newFile) {
          ++fileNumber;
          sink_.ShowStatus(WorkerStatus::File, file, "");
        }
        rate.Add(static_cast<double>(GetTickCount64() - start), p.done);
        const std::optional<std::uint64_t> left = rate.SecondsLeft(p.total > p.done ? p.total - p.done : 0);
        sink_.ShowLine(
            ProgressSink::Line::Count,
            CountLine(fileNumber, fileCount_ > fileNumber ? fileCount_ : fileNumber, p.done, p.total));
        sink_.ShowLine(ProgressSink::Line::Speed,
                       SpeedLine(static_cast<std::uint64_t>(rate.Rate() * 1000), 1000));
        sink_.ShowLine(ProgressSink::Line::TimeLeft, left ? TimeLeftLine(*left) : std::wstring());
        sink_.ShowPercent(ProgressPercent(p.done, p.total));
        break;
      }
      case ServicePhase::Verify:
        sink_.ShowLine(ProgressSink::Line::TimeLeft, L"");
        sink_.ShowStatus(WorkerStatus::DownloadCompleted, "", "");
        break;
      case ServicePhase::Apply:
        if (newFile) {
          sink_.ShowStatus(WorkerStatus::Extracting, "", "");
          sink_.ShowStatus(WorkerStatus::ExtractingFrom, file, "");
          sink_.ShowLine(ProgressSink::Line::Speed, L"");
        }
        sink_.ShowPercent(p.total ? static_cast<unsigned>(p.done * 100 / p.total) : 0);
        break;
    }
  }
  runlog::Write("service", "the channel ended without an outcome");
}

}  // namespace qz
