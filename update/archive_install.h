// The run's downloaded archives unpacked into one folder. Every archive is
// read through first: a name the reader refuses, entries that share data, or
// too little room for all of it stops the run before anything is written.
// Then each is unpacked in list order (a later patch overwrites an earlier
// one's files) and, once all are in, deleted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/worker_report.h"
#include "update/progress_sink.h"
#include "update/update_file.h"

namespace qz {

// Unpacks the files whose local names are archives into `destination`; a
// stop ends it with a quiet failure.
std::optional<WorkerFailure> InstallArchives(const std::vector<UpdateFile>& files, const std::string& destination,
                                             ProgressSink& sink);

}  // namespace qz
