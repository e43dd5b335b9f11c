// The delta archive of a release: for each changed file a Zstandard frame
// made against the file as the previous release had it, with the SHA-256 of
// that base and of the result, and the files the release removes. The release
// tool writes it beside the whole-file patch; the launcher reads it. Both use
// this one definition.
//
// Layout: one text line that names the layout's version, a binary index,
// then the frames one after the other in the order of the index's patches,
// nothing after the last. Numbers are unsigned LEB128 (7 bits a byte, low
// first), digests their 32 bytes:
//   "QZDELTA 2\n"
//   number: bytes of the index that follow
//   number: patches, number: removals
//   digest: SHA-256 of every base, one after the other in patch order
//   digest: SHA-256 of every result, likewise
//   each patch:   base bytes, result bytes, frame bytes (0: in the frame of
//                 the patch before), name
//   each removal: name
// A name is front-coded against the name before it (patches, then
// removals): the number of leading bytes it shares with it, the number of
// bytes that follow, and those bytes. Names are the zip names of the
// whole-file patch (code page 932, '/' between parts); a removed folder ends
// in '/' and comes after everything in it. Small files travel in runs: one
// frame for several files, made against their bases one after the other and
// giving their results one after the other, so a frame's own cost is paid
// once and one file's changes teach the next's. Frames are Zstandard frames
// without their magic number (ZSTD_f_zstd1_magicless) and without checksum:
// the two digests check every base and every result, and the archive itself
// is checked against the manifest. Two digests for the release rather than
// two a file keep a release of many small changes small; the launcher checks
// both before it replaces anything. A launcher refuses a version it does not
// know (and takes the whole-file patch).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/codec.h"

namespace qz {

constexpr char kDeltaMagicPrefix[] = "QZDELTA ";
constexpr unsigned kDeltaVersion = 2;
// The plain entry of a whole-file patch that lists the removed files, one
// name a line. Launchers that predate removals unpack it as a small text file
// in the game's folder, which does no harm; newer ones act on it instead.
constexpr char kRemovedListName[] = "~qzremoved.txt";
// A run of more than one file holds only files (base and result) up to
// kMaxDeltaRunFile bytes, and at most kMaxDeltaRunBytes of bases and of
// results: the launcher decodes a run in memory.
constexpr std::uint64_t kMaxDeltaRunFile = 1u << 20;
constexpr std::uint64_t kMaxDeltaRunBytes = 4u << 20;
// A bigger index is refused before it is read through (65535 names of 255
// bytes with their figures fit).
constexpr std::size_t kMaxDeltaIndexBytes = 24u << 20;
constexpr std::size_t kMaxDeltaNames = 65535;

struct DeltaPatch {
  std::string name;
  std::uint64_t baseBytes = 0;
  std::uint64_t resultBytes = 0;
  std::uint64_t frameBytes = 0;   // 0: its result is in the frame of the patch before
  std::uint64_t frameOffset = 0;  // of its frame, from the start of the archive, when read
};

struct DeltaIndex {
  std::vector<DeltaPatch> patches;
  std::vector<std::string> removed;
  Sha256Digest basesSha256{};    // of every base's bytes in patch order
  Sha256Digest resultsSha256{};  // of every result's bytes in patch order
};

// The index, version line included. Frames follow it in patch order.
std::string DeltaIndexBytes(const DeltaIndex& index);

struct DeltaReading {
  std::optional<DeltaIndex> index;  // with every frame's offset
  std::string problem;              // why it was refused, for the log
};

// Reads the index at the start of `archive` (the whole archive, or at least
// its index when `archiveBytes` gives the full size) and checks that the
// frames fill the rest exactly. Refuses another version ("version N is not
// known" in the problem), a malformed or cut index, a first patch in no
// frame, a run over the limits above, a patch of a folder, a name that is empty, rooted, has a drive, an
// empty, "." or
// ".." part or a control character, a name given twice, and too many names.
DeltaReading ReadDeltaIndex(std::string_view archive, std::uint64_t archiveBytes);

// The removed-list entry of a whole-file patch: its text and its reading, by
// the same name rules.
std::string RemovedListText(const std::vector<std::string>& removed);
std::optional<std::vector<std::string>> ReadRemovedList(std::string_view text,
                                                        std::string* problem = nullptr);

// Whether a name passes the rules above (the launcher still resolves it
// through the zip reader's target rules before it touches anything).
bool IsDeltaName(std::string_view name);

}  // namespace qz
