// Writes a planned archive with libzip, in the form the launcher's reader
// unpacks: code page 932 names without the UTF-8 flag, deflated data (empty files stored),
// modification times, plain attributes.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "publish/patch_plan.h"

namespace qz::publish {

// Files are read from root + "/" + entry path. The archive appears whole at
// out or not at all; throws PublishError.
// `notes` are further entries made from text (zip name, content), stamped
// with the newest time of the other entries. With a fixed time every entry
// gets it, its DOS time read as UTC, so the same tree gives the same bytes on
// any machine and in any time zone; otherwise each gets its file's time.
void WriteArchive(const std::string& out, const std::string& root, const Listing& tree,
                  const std::vector<ArchiveEntry>& entries,
                  const std::vector<std::pair<std::string, std::string>>& notes = {},
                  std::optional<std::time_t> fixedTime = std::nullopt);

// The DOS date and time (high and low half) of a time, read in UTC; a time
// before 1980 or after 2107 gets the nearest one DOS can hold.
std::uint32_t DosTimeOf(std::time_t time);

// What a whole-file patch brings: each file's size by its zip name (as
// stored), the text of its removed list, and the SHA-256 of the content of
// the entries `named`, one after the other in that order (a name it lacks
// adds nothing). Throws PublishError when it is not an archive libzip reads.
struct PatchContent {
  std::map<std::string, std::uint64_t> files;
  std::string removedList;
  std::string namedSha256;
};
PatchContent ReadPatchContent(const std::string& path, const std::vector<std::string>& named);

}  // namespace qz::publish
