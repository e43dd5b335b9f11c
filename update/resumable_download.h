// One file fetched whole, over as many requests as it takes. It is saved as
// "<local path>.part" until it is whole, with "<local path>.part.tag" beside
// it (the address and the server's validator), so a later attempt or run asks
// only for the rest (Range, If-Range) while the server still has the same
// file. A try that leaves the part larger than it ever was is made again at
// once; any other (one that brings nothing, starts over, or crawls below the
// stall pace) is tried again after each pause in turn, and no file gets more
// than TryBudget::kMaxTries tries in all (TryBudget, StallWatch). The file's
// SHA-256, when the manifest states one, is checked as it arrives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/worker_report.h"
#include "update/download_pace.h"
#include "update/http_client.h"
#include "update/update_file.h"

namespace qz {

class ResumableDownload {
 public:
  // After every block written: this file's bytes on disk (resumed ones
  // included) and the bytes this run has received over all its files. False
  // stops the download.
  using OnBytes = std::function<bool(std::uint64_t fileBytes, std::uint64_t runReceived)>;

  // `stallWindowMs`: how long a try may average under the stall pace.
  ResumableDownload(HttpClient& http, std::vector<unsigned> retryDelaysMs, std::function<bool()> stopRequested,
                    OnBytes onBytes, std::uint32_t stallWindowMs = StallWatch::kWindowMs);

  // Saves `file` whole at its localPath; `expected` is its length from the
  // size pass. A stop, or a server that changed since the size pass, fails
  // quietly; the part stays for the next run.
  std::optional<WorkerFailure> Fetch(const UpdateFile& file, DWORD expected);

 private:
  enum class Attempt { Done, Retry, Stalled, Failed, Stopped };
  Attempt Try(const UpdateFile& file, DWORD expected, const std::string& part, WorkerFailure& failure);
  bool Pause(unsigned ms) const;

  HttpClient& http_;
  const std::vector<unsigned> retryDelaysMs_;
  const std::function<bool()> stopRequested_;
  const OnBytes onBytes_;
  const std::uint32_t stallWindowMs_;
  std::uint64_t received_ = 0;  // by this run, over all files
};

}  // namespace qz
