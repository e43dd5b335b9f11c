// The delta archive beside a whole-file patch: each changed file as a
// Zstandard frame against the previous release's file (libzstd, with the old
// file as the frame's prefix and a window that reaches across it), and the
// files the release removes.
#pragma once

#include <cstdint>
#include <string>

#include "publish/patch_plan.h"

namespace qz::publish {

constexpr std::uint64_t kDefaultDeltaMax = 512ull << 20;
// Frames are made as small as Zstandard makes them by default (what
// `zstd -19` does); lower levels publish faster. Applying costs the same.
constexpr int kDefaultDeltaLevel = 19;
constexpr int kMaxDeltaLevel = 22;
// A delta is listed only when it saves at least this share of the
// whole-file patch and at least kDeltaMinSaving bytes: a player whose files
// differ downloads both, and applying costs more than unpacking.
constexpr unsigned kDeltaMinSavingPercent = 5;
constexpr std::uint64_t kDeltaMinSaving = 1024;

struct DeltaOptions {
  std::uint64_t deltaMax = kDefaultDeltaMax;
  int level = kDefaultDeltaLevel;
  std::uint64_t wholeBytes = 0;  // the whole-file patch it stands beside
};

struct DeltaResult {
  bool written = false;
  std::string why;            // when not written
  std::uint64_t bytes = 0;    // of the archive (also when it was not written for its size)
  std::uint64_t changed = 0;  // files it patches
};

// Writes the archive at `out` (through a temporary file) unless a changed
// file or its base is larger than `deltaMax` (a delta for part of a release
// would leave the launcher half way) or it would not save enough against
// the whole-file patch; then none is written and `why` says why.
DeltaResult WriteDeltaArchive(const std::string& out, const std::string& oldRoot, const Listing& oldTree,
                              const std::string& newRoot, const PatchPlan& plan, const DeltaOptions& options);

// Where the delta archive of a whole-file patch goes: its name with ".qzd"
// in place of ".zip" (or added).
std::string DeltaPathOf(const std::string& patchPath);

}  // namespace qz::publish
