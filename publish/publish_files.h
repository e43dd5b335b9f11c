// The release tool's disk access: build trees, and output files that appear
// whole or not at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "publish/patch_plan.h"

namespace qz::publish {

// Every file and folder below root, with the digests of the files. Throws
// PublishError for a missing or unreadable folder, an unreadable file, a
// link or a special file (a release holds plain files only).
Listing ReadTree(const std::string& root);

// Throws PublishError when the file can't be read.
std::string ReadText(const std::string& path);

// Writes through a temporary file beside path and renames it into place, so
// a failure leaves no partial file.
void WriteReplacing(const std::string& path, const std::string& bytes, unsigned mode = 0644);
// One file's new content, or its removal when there are no bytes.
struct FileChange {
  std::string path;
  std::optional<std::string> bytes;
};
using RenameFunction = int (*)(const char* from, const char* to);
// Files that belong together (a manifest and its signature): each is written
// to a temporary name first, then all are renamed into place (or removed) in
// order. When a step fails, the steps done are undone from the old contents,
// so the files stay as they were, in step with each other; throws
// PublishError. For small files: their old contents are held in memory.
void ReplaceTogether(const std::vector<FileChange>& changes, RenameFunction move = &::rename);

// Writes a new file readable by its owner only; refuses to replace one.
void WriteNewPrivate(const std::string& path, const std::string& bytes);

// Throws PublishError unless the folder a file would be written into exists.
void CheckOutputFolder(const std::string& path);

bool IsFile(const std::string& path);
// The bytes of a file a manifest names; throws PublishError when it is not a
// readable file or is larger than a manifest may state (kMaxFileBytes).
std::uint64_t SizeOfFile(const std::string& path);
bool IsFolder(const std::string& path);

}  // namespace qz::publish
