#include "update/download_worker.h"

#include <windows.h>

#include <functional>
#include <map>
#include <optional>

#include "base/field_text.h"
#include "base/run_log.h"
#include "update/archive_install.h"
#include "update/download_plan.h"
#include "update/progress_text.h"
#include "update/resumable_download.h"

namespace qz {

namespace {

class Worker {
 public:
  Worker(const DownloadRequest& request, ProgressSink& sink, DownloadOutcome& outcome)
      : request_(request), files_(request.files), sink_(sink), outcome_(outcome), start_(GetTickCount()) {}

  WorkerOutcome Run() {
    if (files_.empty()) return End(WorkerOutcome::Failed);
    const bool chosen = request_.gameInstaller && !request_.setupSavePath.empty();
    if (auto failure = NameFiles(files_, request_.workDir, !request_.gameInstaller,
                                 chosen ? request_.setupSavePath : std::string())) {
      return Fail(*failure);
    }
    bool archiveSeen = false;
    for (const auto& file : files_) archiveSeen = archiveSeen || HasZipExtension(file.localPath);
    if (auto failure = SizePass(*request_.http, files_, Stop(), sizes_)) return Fail(*failure);
    // An archive with nowhere to go is refused before anything is fetched;
    // the downloads must fit on the volume they are saved to.
    if (archiveSeen && request_.destination.empty()) return Fail(NoDestination(files_));
    if (auto failure = CheckSpace(chosen ? request_.setupSavePath : request_.workDir, sizes_.total)) {
      return Fail(*failure);
    }

    ResumableDownload download(*request_.http, request_.retryDelaysMs, Stop(),
                               [this](std::uint64_t fileBytes, std::uint64_t received) {
                                 return Figures(fileBytes, received);
                               },
                               request_.stallWindowMs);
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (auto failure = Download(download, files_[i], sizes_.each[i])) return Fail(*failure);
    }
    // The page shows the download's last figures before it moves on.
    if (!sink_.Settle() || !sink_.ShowStatus(WorkerStatus::DownloadCompleted)) return Fail(WorkerFailure{});
    if (archiveSeen) {
      runlog::Write("extract", "into " + request_.destination);
      if (auto failure = InstallArchives(files_, request_.destination, sink_, request_.mayWrite)) {
        return Fail(*failure);
      }
    }
    runlog::Write("download", "run done");
    return End(WorkerOutcome::Done);
  }

 private:
  using Line = ProgressSink::Line;

  std::function<bool()> Stop() const {
    return [this] { return sink_.StopRequested(); };
  }

  WorkerOutcome End(WorkerOutcome outcome) {
    sink_.Finish(outcome);
    return outcome;
  }

  WorkerOutcome Fail(const WorkerFailure& failure) {
    request_.http->CloseRequest();
    outcome_.rightsNeeded = failure.kind == FailureKind::NoRights;
    const bool stopped = sink_.StopRequested();
    runlog::Write("download", stopped ? std::string("stopped by the player")
                                      : "failed: " + std::string(FailureName(failure.kind)) +
                                            (failure.subject.empty() ? "" : ": " + failure.subject));
    if (!stopped && failure.kind != FailureKind::Quiet) sink_.ShowFailure(failure);
    return End(WorkerOutcome::Failed);
  }

  // The figure lines and the bar change only when their text does: false
  // means "stop now".
  bool Text(Line line, const std::wstring& text) {
    const std::wstring cut = CutStatus(text);
    std::wstring& last = shown_[line];
    if (cut == last) return !sink_.StopRequested();
    last = cut;
    return sink_.ShowLine(line, cut);
  }
  bool Progress(unsigned percent) {
    if (percent == lastPercent_) return !sink_.StopRequested();
    lastPercent_ = percent;
    return sink_.ShowPercent(percent);
  }

  // After every block: the run's figures. The speed counts only what this
  // run received, from the worker's start.
  bool Figures(std::uint64_t fileBytes, std::uint64_t received) {
    const std::uint64_t downloaded = doneBefore_ + fileBytes;
    return Text(Line::Count, CountLine(fileNumber_, FileCount(), downloaded, sizes_.total)) &&
           Text(Line::Speed, SpeedLine(received, GetTickCount() - start_)) &&
           Progress(ProgressPercent(downloaded, sizes_.total));
  }

  std::optional<WorkerFailure> Download(ResumableDownload& download, const UpdateFile& file, DWORD expected) {
    ++fileNumber_;
    // Each file starts its line at 0.00: the figures of the run follow.
    lastPercent_ = ~0u;
    if (!Text(Line::Count, CountLine(fileNumber_, FileCount(), 0, sizes_.total)) ||
        !sink_.ShowStatus(WorkerStatus::File, FieldText(file.url)) ||
        !sink_.ShowStatus(WorkerStatus::SavedAt, file.localPath) || !Progress(0)) {
      return WorkerFailure{};
    }
    if (request_.gameInstaller) outcome_.installerPath = file.localPath;
    if (auto failure = download.Fetch(file, expected)) return failure;
    doneBefore_ += expected;
    return std::nullopt;
  }

  int FileCount() const { return static_cast<int>(files_.size()); }

  const DownloadRequest& request_;
  std::vector<UpdateFile> files_;  // with the local paths this run saves them under
  ProgressSink& sink_;
  DownloadOutcome& outcome_;
  const DWORD start_;
  FileSizes sizes_;
  std::uint64_t doneBefore_ = 0;  // the files already whole
  int fileNumber_ = 0;
  unsigned lastPercent_ = ~0u;
  std::map<Line, std::wstring> shown_;  // a text that did not change is not sent again
};

}  // namespace

WorkerOutcome RunDownload(const DownloadRequest& request, ProgressSink& sink, DownloadOutcome& outcome) {
  if (!request.http) {
    sink.Finish(WorkerOutcome::Failed);
    return WorkerOutcome::Failed;
  }
  return Worker(request, sink, outcome).Run();
}

}  // namespace qz
