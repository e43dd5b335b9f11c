// The release tool's disk access: build trees, and output files that appear
// whole or not at all.
#pragma once

#include <cstdint>
#include <string>

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
// Writes a new file readable by its owner only; refuses to replace one.
void WriteNewPrivate(const std::string& path, const std::string& bytes);

// Throws PublishError unless the folder a file would be written into exists.
void CheckOutputFolder(const std::string& path);

bool IsFile(const std::string& path);
// The bytes of a file a manifest names; throws PublishError when it is not a
// readable file or holds 4 GiB or more (a launcher counts a file's length in
// 32 bits).
std::uint32_t SizeOfFile(const std::string& path);
bool IsFolder(const std::string& path);

}  // namespace qz::publish
