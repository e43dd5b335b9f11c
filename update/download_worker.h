// The wizard's download work: checks that every listed file exists, downloads
// them with live progress, brings the destination folder to each version in
// turn (a delta archive applied, or a whole-file archive unpacked), and ends
// the run done or failed. One pipeline for every file: the plan (per version:
// the delta or the whole file), the downloads under one set of settings, and
// the installation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/http_client.h"
#include "update/progress_sink.h"
#include "update/resumable_download.h"
#include "update/update_file.h"

namespace qz {

struct DownloadRequest {
  HttpClient* http = nullptr;
  std::vector<UpdateFile> files;  // in the order they are fetched and applied
  std::string workDir;            // where downloads are saved
  std::string destination;        // where archives are unpacked; "" when no folder is known
  // The only file is the game's full installer: it is saved at setupSavePath
  // when the player chose a place, and its path is reported back.
  bool gameInstaller = false;
  std::string setupSavePath;
  DownloadSettings settings;
  // Base addresses of mirrors that hold the same files, in order of
  // preference: each file is taken from the first host that serves it right.
  std::vector<std::string> mirrors;
  // Asked for every target an archive writes, before anything is written;
  // a target it refuses ends the run with FailureKind::NoRights. Empty: none
  // is asked.
  std::function<bool(const std::string& path)> mayWrite;
};

struct DownloadOutcome {
  WorkerOutcome outcome = WorkerOutcome::Failed;
  std::string installerPath;  // where the game's full installer was saved
  bool rightsNeeded = false;  // an archive would write where this account may not
};

// Runs on the worker's thread. Reports through `sink` and ends with
// sink.Finish, whose outcome it also returns.
DownloadOutcome RunDownload(const DownloadRequest& request, ProgressSink& sink);

}  // namespace qz
