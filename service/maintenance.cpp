#include "service/maintenance.h"

#include "base/admin_change.h"
#include "base/folders.h"
#include "base/guarded_write.h"
#include "base/run_log.h"
#include "base/service_channel.h"
#include "base/settings.h"
#include "update/download_worker.h"
#include "update/manifest_fetch.h"
#include "update/service_facts.h"
#include "update/version_decision.h"

namespace qz {

namespace {

// The pipe of the request at hand: the support log's lines go to the caller,
// whose log file is the player's (the service writes no file a player reads).
HANDLE g_replyPipe = nullptr;

void SendLogLine(const std::string& line) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  WriteServiceMessage(g_replyPipe, ServiceLogText(text));
}

struct LogToCaller {
  explicit LogToCaller(HANDLE pipe) {
    g_replyPipe = pipe;
    runlog::SendTo(SendLogLine);
  }
  ~LogToCaller() {
    runlog::SendTo(nullptr);
    g_replyPipe = nullptr;
  }
  LogToCaller(const LogToCaller&) = delete;
  LogToCaller& operator=(const LogToCaller&) = delete;
};

// The worker's reports as figures for the caller's wizard: the run's bytes
// and file while downloading, the archive and its share while applying. The
// caller words them; the lines the worker words itself stay here.
class PipeProgress final : public ProgressSink {
 public:
  PipeProgress(HANDLE pipe, const std::atomic<bool>& stopping) : pipe_(pipe), stopping_(stopping) {}
  bool StopRequested() const override { return broken_ || stopping_; }
  bool ShowLine(Line, const std::wstring&) override { return !StopRequested(); }
  bool ShowStatus(WorkerStatus status, const std::string& subject, const std::string&) override {
    switch (status) {
      case WorkerStatus::File:
        phase_ = ServicePhase::Download;
        file_ = subject;
        return Send({phase_, done_, total_, file_});
      case WorkerStatus::DownloadCompleted: return Send({ServicePhase::Verify, done_, total_, ""});
      case WorkerStatus::ExtractingFrom:
        phase_ = ServicePhase::Apply;
        file_ = subject;
        return Send({phase_, 0, 100, file_});
      default: return !StopRequested();
    }
  }
  bool ShowPercent(unsigned percent) override {
    if (phase_ != ServicePhase::Apply) return !StopRequested();
    return Send({phase_, percent, 100, file_});
  }
  bool ShowBytes(std::uint64_t done, std::uint64_t total) override {
    done_ = done;
    total_ = total;
    // Ten lines a second at most: the caller's page changes no faster.
    const ULONGLONG now = GetTickCount64();
    if (done != total && now - lastSent_ < 100) return !StopRequested();
    lastSent_ = now;
    return Send({ServicePhase::Download, done, total, file_});
  }
  // The worker logged why; the caller tells the player.
  void ShowFailure(const WorkerFailure&) override {}
  void Finish(WorkerOutcome) override {}
  bool Send(const ServiceProgress& progress) {
    if (!broken_ && !WriteServiceMessage(pipe_, ServiceProgressText(progress))) {
      runlog::Write("service", "the caller went away: stopping");
      broken_ = true;
    }
    return !StopRequested();
  }

 private:
  HANDLE pipe_;
  const std::atomic<bool>& stopping_;
  bool broken_ = false;
  ServicePhase phase_ = ServicePhase::Manifest;
  std::string file_;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
  ULONGLONG lastSent_ = 0;
};

}  // namespace

ServiceAnswer ServeUpdateRequest(HANDLE pipe, const std::string& message, const std::atomic<bool>& stopping) {
  LogToCaller logged(pipe);
  ServiceAnswer answer;
  auto refuse = [&answer](ServiceRefusal refusal, const std::string& why) {
    runlog::Write("service", std::string("refused (") + ServiceRefusalWord(refusal) + "): " + why);
    answer.outcome = ServiceOutcome::Refused;
    answer.refusal = refusal;
    return answer;
  };
  const std::optional<std::string> name = ParseServiceRequest(message);
  if (!name) return refuse(ServiceRefusal::BadRequest, "the request is not \"Update <program>\"");
  const std::string& prog = *name;
  answer.progName = prog;
  runlog::Write("service", "process " + std::to_string(GetCurrentProcessId()) + " asked to bring " + prog +
                               " up to date");

  // One administrator's change at a time, the elevated copy's included.
  const ChangeLock lock;
  if (lock.Busy()) return refuse(ServiceRefusal::Busy, "another administrator's change runs");
  const ServiceSubject subject = ReadServiceSubject(prog);
  if (const ServiceRefusal refusal = RefusalBeforeFetch(subject.facts); refusal != ServiceRefusal::None)
    return refuse(refusal, subject.why);

  WriteServiceMessage(pipe, ServiceProgressText({ServicePhase::Manifest, 0, 0, subject.manifestUrl}));
  HttpClient http;
  http.OpenSession("Quorlynx");
  ManifestCheck check;
  check.target = ManifestTarget::Game;
  check.pageProgName = prog;
  check.now = UtcNow();
  check.machineFloor = true;
  std::string at;
  FetchedPlan fetched = FetchChannelPlan(http, subject.manifestUrl, LoadManifestTrust(), check,
                                         settings::ReadChannel(true), at);
  runlog::Write("manifest", "GET " + at + (fetched.plan ? ": read" : ": refused") +
                                (fetched.why.empty() ? "" : ": " + fetched.why));
  if (!fetched.plan) {
    return refuse(fetched.binding == BindingProblem::Rollback ? ServiceRefusal::NotAbove
                                                              : ServiceRefusal::ManifestRefused,
                  "the recorded manifest " + at + " is not taken");
  }
  UpdatePlan& plan = *fetched.plan;
  const settings::InstallRecord record = settings::ReadInstallRecord(prog.c_str());
  const Action action = DecideVersionAction(record.version, plan.minVer, plan.latestVer);
  const bool present = ExecutablePresent(record.runFile);
  runlog::Write("decide", prog + ": installed " + std::to_string(record.version) + ", minimum " +
                              std::to_string(plan.minVer) + ", latest " + std::to_string(plan.latestVer) +
                              (present ? "" : ", its program missing"));
  if (action == Action::None && present) {
    runlog::Write("service", "already current: nothing to change");
    answer.outcome = ServiceOutcome::Current;
    return answer;
  }
  std::uint32_t floor = 0;
  settings::ReadMachineSerial(prog.c_str(), floor);
  if (const ServiceRefusal refusal = RefusalAfterFetch(plan.serial, floor, action == Action::Upgrade && present);
      refusal != ServiceRefusal::None) {
    return refuse(refusal, refusal == ServiceRefusal::NotAbove
                               ? "Serial " + std::to_string(plan.serial) + " is not above " + std::to_string(floor)
                               : "a full installation is never the service's");
  }

  const AdminWorkFolder folder;
  if (folder.Path().empty()) {
    runlog::Write("service", "no work folder of its own: " + runlog::ErrorText(GetLastError()));
    return answer;
  }
  // Whatever it writes goes through no link a player planted.
  GuardWrites();
  DownloadRequest request;
  request.http = &http;
  request.files = plan.updateList;
  SortByVersion(request.files);
  request.workDir = folder.Path();
  request.destination = record.runDir;
  request.settings = LoadDownloadSettings();
  request.mirrors = plan.mirrors;
  PipeProgress sink(pipe, stopping);
  if (RunDownload(request, sink).outcome != WorkerOutcome::Done) return answer;
  const bool written = settings::WriteRecordVersion(prog.c_str(), plan.latestVer, false);
  runlog::Write("record", prog + ": version " + std::to_string(plan.latestVer) + (written ? " written" : " not written"));
  if (!written) return answer;
  const bool kept = settings::RecordMachineManifest(prog.c_str(), plan.serial, at, false);
  runlog::Write("record", prog + ": Serial " + std::to_string(plan.serial) + " and the manifest's address " +
                              (kept ? "kept" : "not kept"));
  answer.outcome = ServiceOutcome::Applied;
  return answer;
}

}  // namespace qz
