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

struct DeltaResult {
  bool written = false;
  std::string why;            // when not written
  std::uint64_t bytes = 0;    // of the archive
  std::uint64_t changed = 0;  // files it patches
};

// Writes the archive at `out` (through a temporary file) unless a changed
// file or its base is larger than `deltaMax`: a delta for part of a release
// would leave the launcher half way, so then none is written and `why` says
// which file.
DeltaResult WriteDeltaArchive(const std::string& out, const std::string& oldRoot, const Listing& oldTree,
                              const std::string& newRoot, const PatchPlan& plan, std::uint64_t deltaMax);

// Where the delta archive of a whole-file patch goes: its name with ".qzd"
// in place of ".zip" (or added).
std::string DeltaPathOf(const std::string& patchPath);

}  // namespace qz::publish
