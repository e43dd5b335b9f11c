// The delta archive of a release: for each changed file a Zstandard frame
// made against the file as the previous release had it, with the SHA-256 of
// that base and of the result, and the files the release removes. The release
// tool writes it beside the whole-file patch; the launcher reads it. Both use
// this one definition.
//
// Layout: an index of text lines, then the frames one after the other in the
// order of their lines, nothing after the last:
//   QZDELTA 1
//   patch <base bytes> <base SHA-256> <result bytes> <result SHA-256> <frame bytes> <name>
//   remove <name>
//   end
// Names are the zip names of the whole-file patch (code page 932, '/' between
// parts); a removed folder ends in '/' and comes after everything in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/codec.h"

namespace qz {

constexpr char kDeltaMagic[] = "QZDELTA 1\n";
// The plain entry of a whole-file patch that lists the removed files, one
// name a line. Launchers that predate removals unpack it as a small text file
// in the game's folder, which does no harm; newer ones act on it instead.
constexpr char kRemovedListName[] = "~qzremoved.txt";
// A bigger index is refused before it is read through.
constexpr std::size_t kMaxDeltaIndexBytes = 4u << 20;
constexpr std::size_t kMaxDeltaNames = 65535;

struct DeltaPatch {
  std::string name;
  std::uint64_t baseBytes = 0;
  Sha256Digest baseSha256{};
  std::uint64_t resultBytes = 0;
  Sha256Digest resultSha256{};
  std::uint64_t frameBytes = 0;
  std::uint64_t frameOffset = 0;  // from the start of the archive, when read
};

struct DeltaIndex {
  std::vector<DeltaPatch> patches;
  std::vector<std::string> removed;
};

// The index text, magic line to "end" line. Frames follow it in patch order.
std::string DeltaIndexText(const DeltaIndex& index);

struct DeltaReading {
  std::optional<DeltaIndex> index;  // with every frame's offset
  std::string problem;              // why it was refused, for the log
};

// Reads the index at the start of `archive` (the whole archive, or at least
// its index when `archiveBytes` gives the full size) and checks that the
// frames fill the rest exactly. Refuses a line it does not know, a malformed
// number or hash, a name that is empty, rooted, has a drive, an empty, "." or
// ".." part or a control character, a name given twice, and too many names.
DeltaReading ReadDeltaIndex(std::string_view archive, std::uint64_t archiveBytes);

// The removed-list entry of a whole-file patch: its text and its reading, by
// the same name rules.
std::string RemovedListText(const std::vector<std::string>& removed);
std::optional<std::vector<std::string>> ReadRemovedList(std::string_view text, std::string* problem = nullptr);

// Whether a name passes the rules above (the launcher still resolves it
// through the zip reader's target rules before it touches anything).
bool IsDeltaName(std::string_view name);

}  // namespace qz
