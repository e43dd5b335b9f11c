// What a download run fetches and whether it fits: each file's local name,
// the size pass that asks the server for every file before anything is
// downloaded, and the room on the drive each part of the run writes to.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/worker_report.h"
#include "update/http_client.h"
#include "update/update_file.h"

namespace qz {

// Sets each file's localPath, decided once: `chosenPath` for the single file
// when the player chose where to keep it, else the work folder and a name of
// the run's own (LocalNamesForRun: unique, the version in front when
// `versionPrefix`). "Archive or program" follows from that name. A path that
// does not fit its field with room for ".part.tag" is refused, never cut.
std::optional<WorkerFailure> NameFiles(std::vector<UpdateFile>& files, const std::string& workDir,
                                       bool versionPrefix, const std::string& chosenPath);

// Each file's length from the server, in list order, and their sum. A file
// without an answer, status 200 or a length is missing; one whose length is
// not the Size its manifest states fails as a download; a stop ends the pass
// with a quiet failure. `asked(n)` is told after each of the n files, so a
// release of thousands of files shows the pass moving.
struct FileSizes {
  std::vector<std::uint64_t> each;
  std::uint64_t total = 0;
};
std::optional<WorkerFailure> SizePass(HttpClient& http, const std::vector<UpdateFile>& files,
                                      const std::function<bool()>& stopRequested, FileSizes& sizes,
                                      const std::function<void(std::size_t)>& asked = {});

// The volume that holds `path` must have room for `bytes` and the margin
// (SpaceWithMargin); when it has not, the failure names the drive and the
// space needed. A volume that cannot be asked is not refused: the writes
// themselves still fail cleanly.
std::optional<WorkerFailure> CheckSpace(const std::string& path, std::uint64_t bytes);

// An archive of the run has no folder to unpack into: names the first one.
WorkerFailure NoDestination(const std::vector<UpdateFile>& files);

}  // namespace qz
