#include "update/download_worker.h"

#include <windows.h>

#include <functional>
#include <map>
#include <optional>

#include "base/field_text.h"
#include "base/run_log.h"
#include "update/archive_install.h"
#include "update/delta_apply.h"
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
    if (!request_.gameInstaller && !request_.destination.empty() && AnyDelta()) return RunWithDeltas();
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

  bool AnyDelta() const {
    for (const auto& file : files_) {
      if (file.deltaUrl[0] && file.deltaHash.present) return true;
    }
    return false;
  }

  // Versions with a delta archive fetch it instead of their whole-file
  // patch, and apply them in version order: each delta is taken when every
  // base on disk is the previous release's file, else (or when it fails) the
  // version's whole-file patch is fetched and unpacked instead.
  WorkerOutcome RunWithDeltas() {
    std::vector<UpdateFile> fetch = files_;
    std::vector<bool> delta(fetch.size(), false);
    for (std::size_t i = 0; i < fetch.size(); ++i) {
      if (!fetch[i].deltaUrl[0] || !fetch[i].deltaHash.present) continue;
      delta[i] = true;
      CopyCut(fetch[i].url, fetch[i].deltaUrl);
      fetch[i].hash = fetch[i].deltaHash;
      fetch[i].size = fetch[i].deltaSize;
    }
    if (auto failure = NameFiles(fetch, request_.workDir, true, "")) return Fail(*failure);
    if (auto failure = SizePass(*request_.http, fetch, Stop(), sizes_)) return Fail(*failure);
    if (auto failure = CheckSpace(request_.workDir, sizes_.total)) return Fail(*failure);
    ResumableDownload download(*request_.http, request_.retryDelaysMs, Stop(),
                               [this](std::uint64_t fileBytes, std::uint64_t received) {
                                 return Figures(fileBytes, received);
                               });
    for (std::size_t i = 0; i < fetch.size(); ++i) {
      if (auto failure = Download(download, fetch[i], sizes_.each[i])) return Fail(*failure);
    }
    if (!sink_.Settle() || !sink_.ShowStatus(WorkerStatus::DownloadCompleted)) return Fail(WorkerFailure{});
    // Rights first: every file the deltas replace or remove, before any changes.
    if (request_.mayWrite) {
      for (std::size_t i = 0; i < fetch.size(); ++i) {
        std::vector<std::string> targets;
        if (!delta[i] || !DeltaTargets(fetch[i].localPath, request_.destination, targets)) continue;
        for (const std::string& target : targets) {
          if (!request_.mayWrite(target)) return Fail(WorkerFailure{FailureKind::NoRights, target});
        }
      }
    }
    runlog::Write("extract", "into " + request_.destination);
    for (std::size_t i = 0; i < fetch.size(); ++i) {
      const std::string version = std::to_string(fetch[i].version);
      if (delta[i]) {
        if (!sink_.ShowStatus(WorkerStatus::ExtractingFrom, fetch[i].localPath)) return Fail(WorkerFailure{});
        const DeltaApplication applied = ApplyDeltaArchive(fetch[i].localPath, request_.destination, request_.mayWrite);
        DeleteFileA(fetch[i].localPath);
        if (applied.outcome == DeltaOutcome::Applied) {
          runlog::Write("delta", "version " + version + ": delta applied (" + std::to_string(sizes_.each[i]) +
                                     " bytes downloaded)");
          continue;
        }
        if (applied.outcome == DeltaOutcome::NoRights) return Fail(WorkerFailure{FailureKind::NoRights, applied.reason});
        runlog::Write("delta", "version " + version + ": delta not taken (" + applied.reason +
                                   "); the whole-file patch instead");
        if (auto failure = FetchWhole(download, files_[i])) return Fail(*failure);
      }
      UpdateFile& whole = delta[i] ? files_[i] : fetch[i];
      if (!HasZipExtension(whole.localPath)) continue;
      if (auto failure = InstallArchives({whole}, request_.destination, sink_, request_.mayWrite)) {
        return Fail(*failure);
      }
    }
    runlog::Write("download", "run done");
    return End(WorkerOutcome::Done);
  }

  // A version's whole-file patch, fetched after its delta was not taken.
  std::optional<WorkerFailure> FetchWhole(ResumableDownload& download, UpdateFile& file) {
    std::vector<UpdateFile> one{file};
    if (auto failure = NameFiles(one, request_.workDir, true, "")) return failure;
    FileSizes size;
    if (auto failure = SizePass(*request_.http, one, Stop(), size)) return failure;
    if (auto failure = CheckSpace(request_.workDir, size.total)) return failure;
    sizes_.total += size.total;
    if (auto failure = Download(download, one[0], size.each[0])) return failure;
    file = one[0];
    return std::nullopt;
  }

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
