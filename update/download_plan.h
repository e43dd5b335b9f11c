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

// The hosts a run takes its files from: the addresses the manifest names
// first, then each mirror's (MirroredAddress). A host that fails a file
// (refuses it, times out, stalls, states another length or sends other bytes)
// is passed over for the rest of the run; the hashes decide, not the host.
class HostChoice {
 public:
  struct Host {
    std::size_t index = 0;  // 0: the manifest's own addresses; k: mirror k
    std::string url;        // the file's address there
  };
  explicit HostChoice(std::vector<std::string> mirrors = {});
  // The hosts still in the run, in order of preference, with the file's address on each.
  std::vector<Host> For(const UpdateFile& file) const;
  void Drop(const Host& host, const std::string& why);
  // For the log: "the manifest's host" or "mirror <base>".
  std::string Name(std::size_t index) const;
  bool HasMirrors() const { return !mirrors_.empty(); }

 private:
  std::vector<std::string> mirrors_;
  std::vector<bool> dropped_;
};

// Each file's length from the server, in list order, and their sum. A file
// without an answer, status 200 or a length is missing; one whose length is
// not the Size its manifest states fails as a download; a stop ends the pass
// with a quiet failure. `asked(n)` is told after each of the n files, so a
// release of thousands of files shows the pass moving. With `hosts`, a file
// one host fails is asked of the next, and the failure of the first is the
// one reported when none has it.
struct FileSizes {
  std::vector<std::uint64_t> each;
  std::uint64_t total = 0;
};
std::optional<WorkerFailure> SizePass(HttpClient& http, const std::vector<UpdateFile>& files,
                                      const std::function<bool()>& stopRequested, FileSizes& sizes,
                                      const std::function<void(std::size_t)>& asked = {},
                                      HostChoice* hosts = nullptr);

// The volume that holds `path` must have room for `bytes` and the margin
// (SpaceWithMargin); when it has not, the failure names the drive and the
// space needed. A volume that cannot be asked is not refused: the writes
// themselves still fail cleanly.
std::optional<WorkerFailure> CheckSpace(const std::string& path, std::uint64_t bytes);

// An archive of the run has no folder to unpack into: names the first one.
WorkerFailure NoDestination(const std::vector<UpdateFile>& files);

}  // namespace qz
