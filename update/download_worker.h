// The wizard's download work: checks that every listed file exists, downloads
// them with live progress, unpacks the zip archives among them into the
// destination folder, and ends the run done or failed. The pieces: the plan
// (local names, sizes, room), each file's resumable download, and the
// archives' installation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/http_client.h"
#include "update/progress_sink.h"
#include "update/update_file.h"

namespace qz {

struct DownloadRequest {
  HttpClient* http = nullptr;
  std::vector<UpdateFile> files;  // in the order they are fetched and unpacked
  std::string workDir;            // where downloads are saved
  std::string destination;        // where archives are unpacked; "" when no folder is known
  // The only file is the game's full installer: it is saved at setupSavePath
  // when the player chose a place, and its path is reported back.
  bool gameInstaller = false;
  std::string setupSavePath;
  // A download that fails for a network reason is tried again after each of
  // these pauses in turn, going on from the bytes already saved; one lost
  // after new bytes arrived is tried again at once and starts the count anew.
  // Every try that is not progress takes the next pause; a file gets a few
  // dozen tries at most (TryBudget).
  std::vector<unsigned> retryDelaysMs{1000, 4000, 16000};
  // A try that averages under 1 KB/s over this long is a stall (StallWatch).
  std::uint32_t stallWindowMs = 60000;
  // Asked for every target an archive writes, before anything is written;
  // a target it refuses ends the run with FailureKind::NoRights. Empty: none
  // is asked.
  std::function<bool(const std::string& path)> mayWrite;
};

struct DownloadOutcome {
  std::string installerPath;  // where the game's full installer was saved
  bool rightsNeeded = false;  // an archive would write where this account may not
};

// Runs on the worker's thread. Reports through `sink` and ends with
// sink.Finish, whose outcome it also returns.
WorkerOutcome RunDownload(const DownloadRequest& request, ProgressSink& sink, DownloadOutcome& outcome);

}  // namespace qz
