// Writes a planned archive with libzip, in the form the launcher's reader
// unpacks: code page 932 names without the UTF-8 flag, deflated data (empty files stored),
// modification times, plain attributes.
#pragma once

#include <string>

#include "publish/patch_plan.h"

namespace qz::publish {

// Files are read from root + "/" + entry path. The archive appears whole at
// out or not at all; throws PublishError.
void WriteArchive(const std::string& out, const std::string& root, const Listing& tree,
                  const std::vector<ArchiveEntry>& entries);

}  // namespace qz::publish
