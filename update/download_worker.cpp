#include "update/download_worker.h"

#include <windows.h>

#include <map>
#include <optional>

#include "base/run_log.h"
#include "update/archive_install.h"
#include "update/delta_apply.h"
#include "update/download_plan.h"
#include "update/progress_text.h"

namespace qz {

namespace {

// One version's part of a run: what is fetched for it (its delta archive,
// when one is listed, or its whole file) and, should the delta not be taken,
// the whole file that stands behind it.
struct Step {
  UpdateFile whole;
  bool delta = false;
  UpdateFile fetched;  // with the local path this run saves it under
};

class Worker {
 public:
  Worker(const DownloadRequest& request, ProgressSink& sink)
      : request_(request), sink_(sink), hosts_(request.mirrors) {}

  DownloadOutcome Run() {
    if (request_.files.empty()) return End(WorkerOutcome::Failed);
    steps_ = PlanSteps();
    std::vector<UpdateFile> fetched;
    for (const Step& step : steps_) fetched.push_back(step.fetched);
    const bool chosen = request_.gameInstaller && !request_.setupSavePath.empty();
    if (auto failure = NameFiles(fetched, request_.workDir, !request_.gameInstaller,
                                 chosen ? request_.setupSavePath : std::string())) {
      return Fail(*failure);
    }
    bool archiveSeen = false;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      steps_[i].fetched.localPath = fetched[i].localPath;
      archiveSeen = archiveSeen || steps_[i].delta || HasZipExtension(fetched[i].localPath.c_str());
    }
    if (auto failure = Sizes(fetched)) return Fail(*failure);
    // An archive with nowhere to go is refused before anything is fetched;
    // the downloads must fit on the volume they are saved to.
    if (archiveSeen && request_.destination.empty()) return Fail(NoDestination(fetched));
    if (auto failure = CheckSpace(chosen ? request_.setupSavePath : request_.workDir, total_))
      return Fail(*failure);

    ResumableDownload download(
        *request_.http, request_.settings, Stop(),
        [this](std::uint64_t fileBytes, std::uint64_t received) { return Figures(fileBytes, received); });
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (auto failure = Download(download, steps_[i].fetched, sizes_[i])) return Fail(*failure);
    }
    // The page shows the download's last figures before it moves on.
    if (!sink_.Settle() || !sink_.ShowStatus(WorkerStatus::DownloadCompleted)) return Fail(WorkerFailure{});
    if (archiveSeen) {
      if (auto failure = Apply(download)) return Fail(*failure);
    }
    runlog::Write("download", "run done");
    return End(WorkerOutcome::Done);
  }

 private:
  using Line = ProgressSink::Line;

  // Each version's delta stands in for its whole file when the manifest
  // lists one with its hash; only into a known folder, never for a setup
  // program.
  std::vector<Step> PlanSteps() const {
    const bool deltas = !request_.gameInstaller && !request_.destination.empty();
    std::vector<Step> steps;
    for (const UpdateFile& file : request_.files) {
      Step step;
      step.whole = file;
      step.fetched = file;
      if (deltas && !file.deltaUrl.empty() && file.deltaHash.present) {
        step.delta = true;
        step.fetched.url = file.deltaUrl;
        step.fetched.hash = file.deltaHash;
        step.fetched.size = file.deltaSize;
      }
      steps.push_back(std::move(step));
    }
    return steps;
  }

  std::function<bool()> Stop() const {
    return [this] { return sink_.StopRequested(); };
  }

  DownloadOutcome End(WorkerOutcome outcome) {
    sink_.Finish(outcome);
    outcome_.outcome = outcome;
    return outcome_;
  }

  DownloadOutcome Fail(const WorkerFailure& failure) {
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

  // The size pass; with many files its line counts the files asked.
  std::optional<WorkerFailure> Sizes(const std::vector<UpdateFile>& files) {
    FileSizes sizes;
    const std::size_t count = files.size();
    auto asked = [this, count](std::size_t done) {
      if (count > 1)
        sink_.ShowStatus(WorkerStatus::SizeCheck, "", std::to_string(done) + "/" + std::to_string(count));
    };
    if (auto failure = SizePass(*request_.http, files, Stop(), sizes, asked, &hosts_)) return failure;
    sizes_ = sizes.each;
    total_ = sizes.total;
    return std::nullopt;
  }

  // After every block: the run's figures. The rate and the time left follow
  // the last seconds of the transfer.
  bool Figures(std::uint64_t fileBytes, std::uint64_t received) {
    // A host that starts the file over never takes the bar back.
    fileShown_ = fileBytes > fileShown_ ? fileBytes : fileShown_;
    const std::uint64_t downloaded = doneBefore_ + fileShown_;
    rate_.Add(NowMs(), received);
    const std::optional<std::uint64_t> left =
        rate_.SecondsLeft(total_ > downloaded ? total_ - downloaded : 0);
    return Text(Line::Count, CountLine(fileNumber_, FileCount(), downloaded, total_)) &&
           Text(Line::Speed, SpeedLine(static_cast<std::uint64_t>(rate_.Rate() * 1000), 1000)) &&
           Text(Line::TimeLeft, left ? TimeLeftLine(*left) : std::wstring()) &&
           Progress(ProgressPercent(downloaded, total_)) && sink_.ShowBytes(downloaded, total_);
  }

  std::optional<WorkerFailure> Download(ResumableDownload& download, const UpdateFile& file,
                                        std::uint64_t expected) {
    ++fileNumber_;
    // Each file starts its line at 0.00: the figures of the run follow.
    lastPercent_ = ~0u;
    if (!Text(Line::Count, CountLine(fileNumber_, FileCount(), doneBefore_, total_)) ||
        !sink_.ShowStatus(WorkerStatus::File, file.url) ||
        !sink_.ShowStatus(WorkerStatus::SavedAt, file.localPath) ||
        !Progress(ProgressPercent(doneBefore_, total_))) {
      return WorkerFailure{};
    }
    if (request_.gameInstaller) outcome_.installerPath = file.localPath;
    fileShown_ = 0;
    if (auto failure = FetchFromHosts(download, file, expected)) return failure;
    doneBefore_ += expected;
    return std::nullopt;
  }

  // The file from the first host that serves it right. One that fails it is
  // passed over for the run; the next goes on from the bytes already saved
  // when the file's SHA-256 guards the splice. When none is left, the first
  // host's failure is the player's message, as with one host.
  std::optional<WorkerFailure> FetchFromHosts(ResumableDownload& download, const UpdateFile& file,
                                              std::uint64_t expected) {
    const std::vector<HostChoice::Host> hosts = hosts_.For(file);
    std::optional<WorkerFailure> first;
    for (std::size_t k = 0; k < hosts.size(); ++k) {
      UpdateFile there = file;
      there.url = hosts[k].url;
      std::optional<WorkerFailure> failure =
          download.Fetch(there, expected, {k + 1 == hosts.size(), k > 0 && file.hash.present});
      if (!failure) {
        if (hosts_.HasMirrors())
          runlog::Write("hosts", file.localPath + " served by " + hosts_.Name(hosts[k].index));
        return std::nullopt;
      }
      // A stop, or the disk: no other host changes that.
      if (sink_.StopRequested() || failure->kind == FailureKind::SaveFailed) return failure;
      if (!first) first = WorkerFailure{failure->kind, file.url};
      hosts_.Drop(hosts[k], download.LastProblem().empty() ? std::string(FailureName(failure->kind))
                                                           : download.LastProblem());
    }
    if (!first) return WorkerFailure{FailureKind::DownloadFailed, file.url};  // every host passed over before
    return first;
  }

  int FileCount() const { return static_cast<int>(steps_.size() + extraFiles_); }

  // Every version in turn: consecutive whole-file archives unpacked together
  // (each read through before the first byte is written), a delta applied
  // over the files the version before left, and a delta that is not taken
  // replaced by its version's whole-file archive, fetched then. Every target
  // of every delta is asked for first, before anything changes.
  std::optional<WorkerFailure> Apply(ResumableDownload& download) {
    if (request_.mayWrite) {
      for (const Step& step : steps_) {
        std::vector<std::string> targets;
        if (!step.delta || !DeltaTargets(step.fetched.localPath, request_.destination, targets)) continue;
        for (const std::string& target : targets) {
          if (!request_.mayWrite(target)) return WorkerFailure{FailureKind::NoRights, target};
        }
      }
    }
    runlog::Write("extract", "into " + request_.destination);
    std::vector<UpdateFile> pending;
    auto unpack = [&]() -> std::optional<WorkerFailure> {
      if (pending.empty()) return std::nullopt;
      std::vector<UpdateFile> archives;
      archives.swap(pending);
      return InstallArchives(archives, request_.destination, sink_, request_.mayWrite);
    };
    for (Step& step : steps_) {
      if (!step.delta) {
        if (HasZipExtension(step.fetched.localPath.c_str())) pending.push_back(step.fetched);
        continue;
      }
      if (auto failure = unpack()) return failure;
      const std::string version = std::to_string(step.whole.version);
      if (!sink_.ShowStatus(WorkerStatus::ExtractingFrom, step.fetched.localPath)) return WorkerFailure{};
      const DeltaApplication applied = ApplyDeltaArchive(step.fetched.localPath, request_.destination,
                                                         request_.mayWrite, step.fetched.hash);
      DeleteFileA(step.fetched.localPath.c_str());
      if (applied.outcome == DeltaOutcome::Applied) {
        runlog::Write("delta", "version " + version + ": delta applied (" +
                                   std::to_string(step.fetched.size) + " bytes downloaded)");
        continue;
      }
      if (applied.outcome == DeltaOutcome::NoRights)
        return WorkerFailure{FailureKind::NoRights, applied.reason};
      runlog::Write("delta", "version " + version + ": delta not taken (" + applied.reason +
                                 "); the whole-file patch instead");
      if (auto failure = FetchWhole(download, step.whole)) return failure;
      if (HasZipExtension(step.whole.localPath.c_str())) pending.push_back(step.whole);
      if (auto failure = unpack()) return failure;
    }
    return unpack();
  }

  // A version's whole-file patch, fetched after its delta was not taken:
  // through the same plan and download as every other file.
  std::optional<WorkerFailure> FetchWhole(ResumableDownload& download, UpdateFile& file) {
    std::vector<UpdateFile> one{file};
    if (auto failure = NameFiles(one, request_.workDir, true, "")) return failure;
    FileSizes size;
    if (auto failure = SizePass(*request_.http, one, Stop(), size, {}, &hosts_)) return failure;
    if (auto failure = CheckSpace(request_.workDir, size.total)) return failure;
    total_ += size.total;
    ++extraFiles_;
    if (auto failure = Download(download, one[0], size.each[0])) return failure;
    file = one[0];
    return std::nullopt;
  }

  const DownloadRequest& request_;
  ProgressSink& sink_;
  DownloadOutcome outcome_;
  std::vector<Step> steps_;
  std::vector<std::uint64_t> sizes_;  // of each step's fetched file
  std::uint64_t total_ = 0;
  std::uint64_t doneBefore_ = 0;  // the files already whole
  int fileNumber_ = 0;
  std::size_t extraFiles_ = 0;  // whole-file patches fetched after a delta
  unsigned lastPercent_ = ~0u;
  std::uint64_t fileShown_ = 0;  // the most of this file the page has shown
  HostChoice hosts_;
  RateWindow rate_;
  std::map<Line, std::wstring> shown_;  // a text that did not change is not sent again
};

}  // namespace

DownloadOutcome RunDownload(const DownloadRequest& request, ProgressSink& sink) {
  if (!request.http) {
    sink.Finish(WorkerOutcome::Failed);
    return DownloadOutcome{};
  }
  return Worker(request, sink).Run();
}

}  // namespace qz
