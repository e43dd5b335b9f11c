// One file fetched whole, over as many requests as it takes. It is saved as
// "<local path>.part" until it is whole, with "<local path>.part.tag" beside
// it (the address and the server's validator), so a later attempt or run asks
// only for the rest (Range, If-Range) while the server still has the same
// file. A try that leaves the part larger than it ever was is made again at
// once; any other (one that brings nothing, starts over, or crawls below the
// stall pace) is tried again after each pause in turn, and no file gets more
// than TryBudget::kMaxTries tries in all (TryBudget, StallWatch). The file's
// SHA-256, when the manifest states one, is taken on a thread of its own from
// the blocks as they are written, and checked once the file is whole.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/worker_report.h"
#include "update/digest.h"
#include "update/download_pace.h"
#include "update/http_client.h"
#include "update/update_file.h"

namespace qz {

// Milliseconds from a fixed point, for timing reads and rates.
double NowMs();

// How every file of a run is fetched: one set for the whole run, whatever
// the file (a whole-file patch, a delta archive, an installer).
struct DownloadSettings {
  // A download that fails for a network reason is tried again after each of
  // these pauses in turn, going on from the bytes already saved; one lost
  // after new bytes arrived is tried again at once and starts the count anew.
  std::vector<unsigned> retryDelaysMs{1000, 4000, 16000};
  // A try that averages under 1 KB/s over this long is a stall (StallWatch).
  std::uint32_t stallWindowMs = StallWatch::kWindowMs;
  // The most a run takes from the link, in bytes a second; 0 for no cap.
  std::uint64_t rateLimitBytesPerSecond = 0;
};

// The settings of this PC: the product's and the player's settings (the
// rate cap), and the pauses and stall window a test machine shortens.
DownloadSettings LoadDownloadSettings();

class ResumableDownload {
 public:
  // After every block written: this file's bytes on disk (resumed ones
  // included) and the bytes this run has received over all its files. False
  // stops the download.
  using OnBytes = std::function<bool(std::uint64_t fileBytes, std::uint64_t runReceived)>;

  ResumableDownload(HttpClient& http, const DownloadSettings& settings, std::function<bool()> stopRequested,
                    OnBytes onBytes);

  // How a file is asked of one of several hosts that hold it. A host with
  // others after it gets no pauses: a try that fails without bringing bytes
  // ends it, so the next is asked at once. A host taken after another may go
  // on from the other's bytes (no If-Range: its validators are its own), but
  // only for a file whose SHA-256 is stated, which guards the splice.
  struct HostTry {
    bool last = true;
    bool splice = false;
  };

  // Saves `file` whole at its localPath; `expected` is its length from the
  // size pass. A stop, or a server that changed since the size pass, fails
  // quietly; the part stays for the next run.
  std::optional<WorkerFailure> Fetch(const UpdateFile& file, std::uint64_t expected, HostTry host);
  std::optional<WorkerFailure> Fetch(const UpdateFile& file, std::uint64_t expected);
  // Why the last failed try failed, for the log of a host passed over.
  const std::string& LastProblem() const { return problem_; }

 private:
  // How one try ended, and the failure it leaves when it is the last.
  struct TryEnd {
    enum Kind { Done, Retry, Stalled, Failed, Stopped } kind;
    WorkerFailure failure;
  };
  TryEnd Try(const UpdateFile& file, std::uint64_t expected, const std::string& part, bool splice);
  // The pieces of a try: where to go on from, the request for the rest, its
  // body into the part, and the check of the whole file.
  struct Resume {
    std::uint64_t from = 0;
    std::string validator;  // the server's, for If-Range; "" when starting over or splicing
  };
  Resume DecideResume(const UpdateFile& file, std::uint64_t expected, const std::string& part,
                      bool splice) const;
  // Logs a failed try's reason and keeps it for LastProblem.
  void Problem(const std::string& text);
  TryEnd Request(const UpdateFile& file, std::uint64_t expected, Resume& resume, const std::string& part);
  TryEnd ReadBody(const UpdateFile& file, std::uint64_t expected, std::uint64_t from, const std::string& part,
                  std::optional<Sha256Digest>& digest);
  TryEnd Verify(const UpdateFile& file, const std::optional<Sha256Digest>& digest, const std::string& part);
  bool Pause(double ms) const;

  HttpClient& http_;
  const DownloadSettings settings_;
  const std::function<bool()> stopRequested_;
  const OnBytes onBytes_;
  std::uint64_t received_ = 0;  // by this run, over all files
  RatePacer pacer_;
  std::string problem_;
  // The hash of a part a try left behind, with how many of its bytes it has
  // taken: the next try that goes on from exactly there takes it up instead of
  // reading the part back, so a 60 GB download cut many times is not read and
  // hashed again at every cut.
  struct HeldHash {
    std::string part;
    std::uint64_t at = 0;
    std::unique_ptr<BackgroundSha256> hasher;
  } held_;
};

}  // namespace qz
