// A release's delta archive applied to the game's folder, and the files a
// release removes. Every name goes through the zip reader's target rules, so
// nothing outside the folder is ever written or deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/update_file.h"

namespace qz {

// Bases (and results) the delta takes: on a 32-bit build the base and the
// result are mapped at once into a 2 GiB address space.
constexpr std::uint64_t kMaxDeltaBase = sizeof(void*) == 4 ? (256ull << 20) : (1ull << 31);

enum class DeltaOutcome {
  Applied,   // every file replaced and checked, every removal done or logged
  NotTaken,  // a base differs, the archive is damaged or a frame failed: take the whole-file patch
  NoRights,  // a target this account may not write: nothing changed
};

struct DeltaApplication {
  DeltaOutcome outcome = DeltaOutcome::NotTaken;
  std::string reason;  // for the log, and the path for NoRights
};

using MayWrite = std::function<bool(const std::string& path)>;

// Holds the archive with writers and deleters shut out and, when `expected`
// names its hash, checks it again through that handle (as zips are); then
// checks every target, reads each base once (its SHA-256 and the frame's
// prefix from the same bytes), writes each result beside its target
// ("<target>.qzdnew") and checks its SHA-256; only when all passed does each
// result replace its target, and the files the archive lists are removed
// (never one the release writes). A failure while results replace their
// targets leaves only files of the new release (each whole and checked),
// which the whole-file patch completes.
DeltaApplication ApplyDeltaArchive(const std::string& archivePath, const std::string& destination,
                                   const MayWrite& mayWrite, const FileHash& expected);

// The targets a delta archive would change, for the rights check; false
// when the archive cannot be read (it will not be taken then).
bool DeltaTargets(const std::string& archivePath, const std::string& destination,
                  std::vector<std::string>& targets);

// Removes the listed names (files first; a folder only when empty) inside
// `destination`, each logged. A name the target rules refuse removes nothing
// at all: the list is refused whole and the refusal logged. A name equal to
// one of `written` (the targets the same release just wrote) as the file
// system compares names (ordinal, without case, in UTF-16) is kept and logged.
void RemoveListed(const std::vector<std::string>& names, const std::string& destination,
                  const std::vector<std::string>& written);

}  // namespace qz
