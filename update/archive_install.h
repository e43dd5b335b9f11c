// The run's downloaded archives unpacked into one folder. Every archive is
// read through first: a name the reader refuses, entries that share data, or
// too little room for all of it stops the run before anything is written.
// Then each is unpacked in list order (a later patch overwrites an earlier
// one's files) and, once all are in, deleted.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/worker_report.h"
#include "update/progress_sink.h"
#include "update/update_file.h"

namespace qz {

// Unpacks the files whose local names are archives into `destination`; a
// stop ends it with a quiet failure. `mayWrite`, when given, is asked for
// every target during the read-through: one it refuses stops the run with
// FailureKind::NoRights before anything is written.
std::optional<WorkerFailure> InstallArchives(const std::vector<UpdateFile>& files,
                                             const std::string& destination, ProgressSink& sink,
                                             const std::function<bool(const std::string&)>& mayWrite = {});

}  // namespace qz
