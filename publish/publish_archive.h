// Writes a planned archive with libzip, in the form the launcher's reader
// unpacks: code page 932 names without the UTF-8 flag, deflated data (empty files stored),
// modification times, plain attributes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "publish/patch_plan.h"

namespace qz::publish {

// Files are read from root + "/" + entry path. The archive appears whole at
// out or not at all; throws PublishError.
// `notes` are further entries made from text (zip name, content), stamped
// with the newest time of the other entries.
void WriteArchive(const std::string& out, const std::string& root, const Listing& tree,
                  const std::vector<ArchiveEntry>& entries,
                  const std::vector<std::pair<std::string, std::string>>& notes = {});

}  // namespace qz::publish
