#include "update/resumable_download.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "base/run_log.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "update/digest.h"
#include "update/progress_text.h"

namespace qz {

namespace {

// A read answered within this long found its bytes waiting.
constexpr double kPromptReadMs = 50;
// The lowest cap a setting may ask for: well above the stall pace, so a
// capped download is never taken for a stalled one.
constexpr std::uint64_t kLowestCapKBps = 16;

// The bytes of an earlier attempt or run go on only while the server still
// has the same file: its validator (strong ETag, else Last-Modified) is kept
// beside the part with the address it came from.
std::string ReadTag(const std::string& tagPath, const std::string& url) {
  FileHandle tag(
      CreateFileA(tagPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!tag) return {};
  char text[4096 + 512];
  DWORD got = 0;
  if (!ReadFile(tag.get(), text, sizeof text, &got, nullptr) || got == sizeof text) return {};
  const std::string content(text, got);
  const std::size_t newline = content.find('\n');
  if (newline == std::string::npos || content.substr(0, newline) != url) return {};
  // Only a validator the server could have sent goes back to it: anything
  // else (a planted tag with a header of its own) is dropped with the part.
  const std::string validator = content.substr(newline + 1);
  if (!IsSendableValidator(validator)) {
    runlog::Write("download", "the saved validator is not one a server sends: starting over");
    return {};
  }
  return validator;
}

void WriteTag(const std::string& tagPath, const std::string& url, const std::string& validator) {
  if (!IsSendableValidator(validator)) {
    DeleteFileA(tagPath.c_str());
    return;
  }
  FileHandle tag(
      CreateFileA(tagPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string content = url + "\n" + validator;
  DWORD written = 0;
  if (!tag || !WriteFile(tag.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
    tag.reset();
    DeleteFileA(tagPath.c_str());
  }
}

std::uint64_t SizeOnDisk(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Watches one try from a thread of its own, since a read waits as long as
// bytes keep trickling in: when the try stalls it ends the read that waits
// (AbortRequest, made for a call from another thread).
class StallGuard {
 public:
  StallGuard(HttpClient& http, std::uint32_t windowMs) : http_(http), watch_(windowMs) {
    watch_.Start(NowMs());
    thread_ = std::thread([this] { Run(); });
  }
  ~StallGuard() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  StallGuard(const StallGuard&) = delete;
  StallGuard& operator=(const StallGuard&) = delete;

  void Arrived(std::uint64_t bytes) { bytes_ = bytes; }
  bool Fired() const { return fired_; }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; })) {
      if (watch_.Stalled(NowMs(), bytes_)) {
        fired_ = true;
        http_.AbortRequest();
        return;
      }
    }
  }

  HttpClient& http_;
  StallWatch watch_;  // only the guard's thread asks it after the start
  std::atomic<std::uint64_t> bytes_{0};
  std::atomic<bool> fired_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

// Timed around every read: the counter's frequency is fixed at boot, asked once.
double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

DownloadSettings LoadDownloadSettings() {
  DownloadSettings settings;
  // The pauses before another try: 1 s, 4 s, 16 s; a test machine shortens
  // them through the product key (no page can reach it).
  const DWORD pause = settings::ReadProductNumber("RetryDelayMs", 1000);
  settings.retryDelaysMs = {pause, pause * 4, pause * 16};
  // A minute under 1 KB/s is a stall; shortened the same way.
  settings.stallWindowMs = settings::ReadProductNumber("StallWindowMs", StallWatch::kWindowMs);
  const std::uint64_t cap = settings::ReadRateLimitKBps();
  settings.rateLimitBytesPerSecond = cap == 0 ? 0 : (cap < kLowestCapKBps ? kLowestCapKBps : cap) * 1024;
  return settings;
}

ResumableDownload::ResumableDownload(HttpClient& http, const DownloadSettings& settings,
                                     std::function<bool()> stopRequested, OnBytes onBytes)
    : http_(http),
      settings_(settings),
      stopRequested_(std::move(stopRequested)),
      onBytes_(std::move(onBytes)),
      pacer_(settings.rateLimitBytesPerSecond) {}

void ResumableDownload::Problem(const std::string& text) {
  problem_ = text;
  runlog::Write("download", text);
}

std::optional<WorkerFailure> ResumableDownload::Fetch(const UpdateFile& file, std::uint64_t expected) {
  return Fetch(file, expected, HostTry{});
}

std::optional<WorkerFailure> ResumableDownload::Fetch(const UpdateFile& file, std::uint64_t expected,
                                                      HostTry host) {
  const std::string part = file.localPath + ".part";
  problem_.clear();
  const DWORD started = GetTickCount();
  const std::uint64_t receivedBefore = received_;
  const std::vector<unsigned>& pauses = settings_.retryDelaysMs;
  TryBudget budget(pauses.size());
  for (;;) {
    const TryEnd result = Try(file, expected, part, host.splice);
    if (result.kind == TryEnd::Done) break;
    if (result.kind == TryEnd::Stopped) return WorkerFailure{};
    if (result.kind == TryEnd::Failed) return result.failure;
    const std::uint64_t held = SizeOnDisk(part);
    const TryBudget::Next next = budget.AfterTry(held, result.kind == TryEnd::Stalled);
    runlog::Write("download", budget.Text(held));
    if (!host.last && next.kind != TryBudget::Next::AtOnce) return result.failure;
    if (next.kind == TryBudget::Next::GiveUp) {
      runlog::Write("download", "no more tries for " + file.url);
      return result.failure;
    }
    if (next.kind == TryBudget::Next::AtOnce) {
      runlog::Write("download", "the file grew: trying again at once");
      continue;
    }
    runlog::Write("download", "try again in " + std::to_string(pauses[next.pause]) + " ms (pause " +
                                  std::to_string(next.pause + 1) + " of " + std::to_string(pauses.size()) +
                                  ")");
    if (!Pause(pauses[next.pause])) return WorkerFailure{};
  }
  DeleteFileA(file.localPath.c_str());
  if (!MoveFileA(part.c_str(), file.localPath.c_str()))
    return WorkerFailure{FailureKind::SaveFailed, file.localPath};
  DeleteFileA((part + ".tag").c_str());
  // With what this run received and how long it took: a slow link shows.
  runlog::Write("download", "saved " + file.localPath + ", " + std::to_string(expected) + " bytes, " +
                                std::to_string(received_ - receivedBefore) + " received in " +
                                std::to_string(GetTickCount() - started) + " ms");
  return std::nullopt;
}

// Waits before another attempt or read; false when a stop came meanwhile.
bool ResumableDownload::Pause(double ms) const {
  const double end = NowMs() + ms;
  for (double now = NowMs(); now < end; now = NowMs()) {
    if (stopRequested_()) return false;
    const double left = end - now;
    Sleep(left < 50 ? static_cast<DWORD>(left) + 1 : 50);
  }
  return !stopRequested_();
}

// One request for the rest of a file. Retry: a network failure (no answer,
// a failed read, a body cut short); what arrived stays in the part.
ResumableDownload::TryEnd ResumableDownload::Try(const UpdateFile& file, std::uint64_t expected,
                                                 const std::string& part, bool splice) {
  Resume resume = DecideResume(file, expected, part, splice);
  const TryEnd requested = Request(file, expected, resume, part);
  if (requested.kind != TryEnd::Done) return requested;
  std::optional<Sha256Digest> digest;
  const TryEnd read = ReadBody(file, expected, resume.from, part, digest);
  if (read.kind != TryEnd::Done) return read;
  return Verify(file, digest, part);
}

ResumableDownload::Resume ResumableDownload::DecideResume(const UpdateFile& file, std::uint64_t expected,
                                                          const std::string& part, bool splice) const {
  Resume resume;
  const std::uint64_t have = SizeOnDisk(part);
  if (have > 0 && have < expected) resume.validator = ReadTag(part + ".tag", file.url);
  if (!resume.validator.empty()) {
    resume.from = have;
  } else if (splice && file.hash.present && have > 0 && have < expected) {
    resume.from = have;
    runlog::Write("download", "going on from byte " + std::to_string(have) +
                                  " that another host sent; the SHA-256 guards the splice");
  }
  return resume;
}

ResumableDownload::TryEnd ResumableDownload::Request(const UpdateFile& file, std::uint64_t expected,
                                                     Resume& resume, const std::string& part) {
  const std::string& url = file.url;
  const WorkerFailure network{FailureKind::DownloadFailed, url};
  std::string headers;
  if (resume.from > 0) {
    headers = "Range: bytes=" + std::to_string(resume.from) + "-\r\n";
    if (!resume.validator.empty()) headers += "If-Range: " + resume.validator + "\r\n";
  }
  const bool opened = http_.Get(url.c_str(), headers);
  if (stopRequested_()) return {TryEnd::Stopped, {}};
  runlog::Write("download",
                (resume.from > 0 ? "GET from byte " + std::to_string(resume.from) : std::string("GET")) +
                    " " + url + ": " + AnswerText(http_, opened));
  if (!opened) {
    problem_ = "no answer (" + AnswerText(http_, opened) + ")";
    return {TryEnd::Retry, network};
  }
  const DWORD status = http_.Status();
  const std::uint64_t length = http_.ContentLength();
  if (status == 206 && resume.from > 0 && resume.from + length == expected &&
      http_.Header("Content-Range").rfind("bytes " + std::to_string(resume.from) + "-", 0) == 0) {
    runlog::Write("download", "resumed at byte " + std::to_string(resume.from));
  } else if (status == 200 && length == expected) {
    if (resume.from > 0) runlog::Write("download", "the server sent the whole file: starting over");
    resume.from = 0;
  } else if (status >= 500 && status < 600) {
    problem_ = "status " + std::to_string(status);
    http_.CloseRequest();
    return {TryEnd::Retry, network};
  } else {
    // The server changed since the size pass (or answered a range it was
    // not asked for): nothing of it is saved.
    problem_ = "status " + std::to_string(status) + " with " + std::to_string(length) + " bytes, not the " +
               std::to_string(expected - (status == 206 ? resume.from : 0)) + " asked for";
    http_.CloseRequest();
    return {TryEnd::Failed, WorkerFailure{}};
  }
  const std::string etag = http_.Header("ETag");
  WriteTag(part + ".tag", url,
           !etag.empty() && etag.rfind("W/", 0) != 0 ? etag : http_.Header("Last-Modified"));
  return {TryEnd::Done, {}};
}

ResumableDownload::TryEnd ResumableDownload::ReadBody(const UpdateFile& file, std::uint64_t expected,
                                                      std::uint64_t from, const std::string& part,
                                                      std::optional<Sha256Digest>& digest) {
  const WorkerFailure saveFailed{FailureKind::SaveFailed, file.localPath};
  const WorkerFailure network{FailureKind::DownloadFailed, file.url};
  FileHandle out(CreateFileA(part.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             from > 0 ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return {TryEnd::Failed, saveFailed};
  std::unique_ptr<char[]> buffer(new char[kLargestRead]);
  // Hashed beside the transfer, on a thread of its own, so checking costs no
  // second read of the file; a resumed file's hash covers the bytes already
  // on disk, read first.
  std::unique_ptr<BackgroundSha256> hasher;
  const bool takenUp = file.hash.Checked() && held_.hasher && held_.part == part && held_.at == from;
  if (takenUp) {
    hasher = std::move(held_.hasher);
    runlog::Write("download", "the hash goes on from byte " + std::to_string(from));
  } else if (file.hash.Checked()) {
    hasher = std::make_unique<BackgroundSha256>();
  }
  held_.hasher.reset();
  // A try cut on the way leaves its hash for the next one.
  auto keepHash = [&](std::uint64_t at) {
    held_.part = part;
    held_.at = at;
    held_.hasher = std::move(hasher);
  };
  for (std::uint64_t read = takenUp ? from : 0; read < from;) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(from - read < kLargestRead ? from - read : kLargestRead);
    if (!ReadFile(out.get(), buffer.get(), want, &got, nullptr) || got == 0)
      return {TryEnd::Failed, saveFailed};
    if (hasher) hasher->Update(buffer.get(), got);
    read += got;
  }
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(from);
  if (!SetFilePointerEx(out.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(out.get())) {
    return {TryEnd::Failed, saveFailed};
  }

  std::uint64_t onDisk = from;  // progress counts what is on disk as done
  std::uint32_t readSize = kFirstRead;
  // A server that trickles (a byte now and then, each in time for the
  // receive timeout) would hold the wizard for ever: a try that averages
  // under the stall pace over a window is ended by its guard.
  StallGuard guard(http_, settings_.stallWindowMs);
  // Whole reads only while the link keeps up, and at most four times what the
  // last read brought: a read that had to wait is followed by one that takes
  // what has arrived, so a crawl never holds a read for long.
  bool keepsUp = false;
  std::uint32_t lastRead = 0;
  for (;;) {
    const double asked = NowMs();
    // One byte past the end at most: enough to see a body longer than its
    // length, never an endless one taken in.
    const std::uint64_t room = expected - onDisk + 1;
    const std::uint32_t size = pacer_.ReadSize(static_cast<std::uint32_t>(room < readSize ? room : readSize));
    const std::uint32_t ask = keepsUp && lastRead < size / 4 ? lastRead * 4 : size;
    const int n = http_.Read(buffer.get(), ask, keepsUp);
    keepsUp = n > 0 && NowMs() - asked < kPromptReadMs;
    lastRead = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    if (stopRequested_()) return {TryEnd::Stopped, {}};  // the partial file stays
    if (n == 0) break;
    if (n < 0 && guard.Fired()) {
      Problem("stalled: under " + std::to_string(StallWatch::kMinBytesPerSecond) + " bytes a second over " +
              std::to_string(settings_.stallWindowMs) + " ms at byte " + std::to_string(onDisk));
      http_.CloseRequest();
      keepHash(onDisk);
      return {TryEnd::Stalled, network};
    }
    if (n < 0) {
      Problem("read failed at byte " + std::to_string(onDisk) + ", error " +
              runlog::ErrorText(GetLastError()));
      http_.CloseRequest();
      keepHash(onDisk);
      return {TryEnd::Retry, network};
    }
    readSize = NextReadSize(readSize, static_cast<std::uint32_t>(n), NowMs() - asked);
    if (onDisk + static_cast<std::uint64_t>(n) > expected) {
      problem_ = "more bytes than the " + std::to_string(expected) + " announced";
      http_.CloseRequest();
      return {TryEnd::Failed, network};
    }
    if (hasher) hasher->Update(buffer.get(), static_cast<std::size_t>(n));
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
        written != static_cast<DWORD>(n)) {
      runlog::Write("download", "write failed, error " + runlog::ErrorText(GetLastError()));
      return {TryEnd::Failed, saveFailed};
    }
    onDisk += static_cast<std::uint64_t>(n);
    received_ += static_cast<std::uint64_t>(n);
    guard.Arrived(onDisk - from);
    if (!onBytes_(onDisk, received_)) return {TryEnd::Stopped, {}};
    // Under a cap the reader waits for it to catch up; the wait is time the
    // stall guard counts too, which the lowest cap leaves far above its pace.
    const double wait = pacer_.AfterRead(NowMs(), static_cast<std::uint64_t>(n));
    if (wait > 0 && !Pause(wait)) return {TryEnd::Stopped, {}};
  }
  http_.CloseRequest();
  // A body shorter than announced is an interrupted download, not a file.
  if (onDisk != expected) {
    Problem("body ended at byte " + std::to_string(onDisk) + " of " + std::to_string(expected));
    keepHash(onDisk);
    return {TryEnd::Retry, network};
  }
  if (!CloseHandle(out.release())) return {TryEnd::Failed, saveFailed};
  if (hasher) {
    digest = hasher->Finish();
    if (!digest) digest = Sha256Digest{};  // a failed hash never matches
  }
  return {TryEnd::Done, {}};
}

ResumableDownload::TryEnd ResumableDownload::Verify(const UpdateFile& file,
                                                    const std::optional<Sha256Digest>& digest,
                                                    const std::string& part) {
  if (!file.hash.Checked()) return {TryEnd::Done, {}};
  // Not what the publisher released: it is neither kept, run nor unpacked.
  if (!digest || !FileHashMatches(file.hash, *digest)) {
    DeleteFileA(part.c_str());
    DeleteFileA((part + ".tag").c_str());
    Problem("SHA-256 differs from the published one: deleted");
    return {TryEnd::Failed, WorkerFailure{FailureKind::HashMismatch, file.url}};
  }
  runlog::Write("download", "SHA-256 matches");
  return {TryEnd::Done, {}};
}

}  // namespace qz
