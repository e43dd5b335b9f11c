#include "update/delta_apply.h"

#include <windows.h>
// Frames come without their magic number, which is the advanced API.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "base/guarded_write.h"
#include "base/run_log.h"
#include "base/win_handles.h"
#include "format/delta_archive.h"
#include "update/digest.h"
#include "zip/zip_exception.h"
#include "zip/zip_path_parts.h"

namespace qz {

namespace {

// The decoder's window: a frame that asks for more is refused, not allocated.
// Frames hold the base and the result in their window (the 32-bit launcher
// maps at most 256 MiB of each).
constexpr int kWindowLogMax = sizeof(void*) == 4 ? 29 : 31;
// Files up to this size are read and written with one call each through a
// buffer, and travel in runs: mapping them costs more calls than their bytes
// cost (thousands of small files in a release).
constexpr std::uint64_t kSmallFile = kMaxDeltaRunFile;

// A whole file mapped read-only: never copied into the heap. An empty file
// maps to nothing.
struct Mapping {
  FileHandle file;
  Handle section;
  MappedView view;
  std::uint64_t size = 0;
  const char* data() const { return static_cast<const char*>(view.get()); }
};

// Maps the file `m.file` holds.
bool MapHeld(Mapping& m) {
  LARGE_INTEGER size{};
  if (!m.file || !GetFileSizeEx(m.file.get(), &size)) return false;
  m.size = static_cast<std::uint64_t>(size.QuadPart);
  if (m.size == 0) return true;
  if (m.size > SIZE_MAX) return false;
  m.section.reset(CreateFileMappingA(m.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (m.section) m.view.reset(MapViewOfFile(m.section.get(), FILE_MAP_READ, 0, 0, 0));
  return static_cast<bool>(m.view);
}

bool MapForReading(const std::string& path, Mapping& m) {
  m.file.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return MapHeld(m);
}

// Placed by the same rules as an unpacked archive's entries.
std::string Target(const std::string& name, const std::string& destination) {
  std::string target = ZipCheckedTarget(name, destination, true);
  if (target.empty()) throw CZipException(CZipException::errBadArchive, name);
  return target;
}

// The folders above a new file inside the destination, each made once
// (where its path names, under an administrator's guard); "" or why not.
std::string MakeParents(const std::string& path, const std::string& destination,
                        std::set<std::string>& made) {
  for (std::size_t at = path.find('\\', destination.size()); at != std::string::npos;
       at = path.find('\\', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (!made.insert(folder).second) continue;
    if (!MakeFolderAsNamed(folder) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return "cannot make the folder " + folder + " (error " + std::to_string(GetLastError()) + ")";
    }
  }
  return "";
}

bool ClearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// A base as the player has it: a small one appended to the run's buffer, a
// large one mapped; none at all for a file the release adds.
struct Base {
  Mapping mapping;
  const char* data = nullptr;
  std::uint64_t size = 0;
  bool missing = false;
};

// "" when read (or when its size already tells it is another file, then
// nothing is read), else why not.
std::string ReadBase(const std::string& target, std::uint64_t expected, Base& base, std::vector<char>& into) {
  base.mapping.file.reset(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!base.mapping.file) {
    const DWORD error = GetLastError();
    base.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return base.missing ? "" : "cannot read the base " + target;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(base.mapping.file.get(), &size)) return "cannot read the base " + target;
  base.size = static_cast<std::uint64_t>(size.QuadPart);
  if (base.size != expected) return "";  // not the previous release's file: never read
  if (base.size > kSmallFile) {
    if (!MapHeld(base.mapping)) return "cannot map the base " + target;
    base.data = base.mapping.data();
    return "";
  }
  const std::size_t at = into.size();
  into.resize(at + static_cast<std::size_t>(base.size));
  DWORD got = 0;
  if (base.size > 0 &&
      (!ReadFile(base.mapping.file.get(), into.data() + at, static_cast<DWORD>(base.size), &got, nullptr) ||
       got != base.size)) {
    return "cannot read the base " + target;
  }
  base.data = into.data() + at;
  base.mapping.file.reset();
  return "";
}

// Decodes a frame into `into` (exactly `bytes`) against `prefix`; "" or why not.
std::string Decode(ZSTD_DCtx* dctx, const Mapping& archive, const DeltaPatch& first, std::uint64_t bytes,
                   const char* prefix, std::uint64_t prefixBytes, char* into) {
  // The frame must say the size the index states before a file of that size is made.
  ZSTD_frameHeader header{};
  if (ZSTD_getFrameHeader_advanced(&header, archive.data() + first.frameOffset,
                                   static_cast<std::size_t>(first.frameBytes), ZSTD_f_zstd1_magicless) != 0 ||
      header.frameContentSize != bytes) {
    return "the frame of " + first.name + " does not hold the stated size";
  }
  ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
  ZSTD_DCtx_setParameter(dctx, ZSTD_d_format, ZSTD_f_zstd1_magicless);
  ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, kWindowLogMax);
  if (prefixBytes > 0) ZSTD_DCtx_refPrefix(dctx, prefix, static_cast<std::size_t>(prefixBytes));
  const std::size_t n =
      ZSTD_decompressDCtx(dctx, into, static_cast<std::size_t>(bytes), archive.data() + first.frameOffset,
                          static_cast<std::size_t>(first.frameBytes));
  if (ZSTD_isError(n)) return "the frame of " + first.name + " does not decode: " + ZSTD_getErrorName(n);
  if (n != bytes)
    return "the frame of " + first.name + " gives " + std::to_string(n) + " bytes, not " +
           std::to_string(bytes);
  return "";
}

// A new file beside its target with the given bytes; "" or why not.
std::string WriteTemp(const std::string& temp, const char* data, std::uint64_t bytes) {
  FileHandle out(CreateNewAsNamed(temp, GENERIC_WRITE));
  if (!out) return "cannot create " + temp + " (error " + std::to_string(GetLastError()) + ")";
  DWORD written = 0;
  if (bytes > 0 &&
      (!WriteFile(out.get(), data, static_cast<DWORD>(bytes), &written, nullptr) || written != bytes)) {
    return "cannot write " + temp + " (error " + std::to_string(GetLastError()) + ")";
  }
  return "";
}

// A large result, decoded straight into its mapped file beside the target.
std::string WriteLarge(ZSTD_DCtx* dctx, const Mapping& archive, const DeltaPatch& p, const Base& base,
                       const std::string& temp, Sha256Hasher& results) {
  FileHandle out(CreateNewAsNamed(temp, GENERIC_READ | GENERIC_WRITE));
  if (!out) return "cannot create " + temp + " (error " + std::to_string(GetLastError()) + ")";
  const auto high = static_cast<DWORD>(p.resultBytes >> 32), low = static_cast<DWORD>(p.resultBytes);
  Handle section(CreateFileMappingA(out.get(), nullptr, PAGE_READWRITE, high, low, nullptr));
  MappedView view(section ? MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
  if (!view) return "cannot map " + temp + " (error " + std::to_string(GetLastError()) + ")";
  auto* into = static_cast<char*>(view.get());
  const std::string why = Decode(dctx, archive, p, p.resultBytes, base.data, base.size, into);
  if (!why.empty()) return why;
  // Hashed from the bytes just decoded, while they are at hand.
  if (!results.Update(into, static_cast<std::size_t>(p.resultBytes))) return "the results cannot be hashed";
  return "";
}

// A name as the file system compares it: UTF-16 from the code page (a
// code page 932 character may end in the byte of '\\'), either separator and
// a run of them as one, without a folder's final separator.
std::wstring NameKey(const std::string& target) {
  const int n = MultiByteToWideChar(CP_ACP, 0, target.data(), static_cast<int>(target.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, target.data(), static_cast<int>(target.size()), &wide[0], n);
  std::wstring key;
  for (wchar_t ch : wide) {
    const wchar_t c = ch == L'/' ? L'\\' : ch;
    if (c != L'\\' || key.empty() || key.back() != L'\\') key.push_back(c);
  }
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

// Ordinal order without case, as the file system's uppercase table has it.
bool FoldedLess(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_LESS_THAN;
}

// Everything the archive would touch, checked before anything changes.
struct Checked {
  std::optional<DeltaIndex> index;
  std::vector<std::string> patchTargets, removalTargets;
  std::string problem;
};

Checked Check(const Mapping& archive, const std::string& destination) {
  Checked c;
  const std::uint64_t viewed =
      archive.size < kMaxDeltaIndexBytes + 32 ? archive.size : kMaxDeltaIndexBytes + 32;
  DeltaReading reading = ReadDeltaIndex(
      std::string_view(archive.data() ? archive.data() : "", static_cast<std::size_t>(viewed)), archive.size);
  if (!reading.index) {
    c.problem = "the delta archive is refused: " + reading.problem;
    return c;
  }
  try {
    for (const DeltaPatch& p : reading.index->patches) c.patchTargets.push_back(Target(p.name, destination));
    for (const std::string& name : reading.index->removed)
      c.removalTargets.push_back(Target(name, destination));
  } catch (const CZipException& error) {
    c.problem = "a name the unpacking rules refuse (" + error.fileName + ")";
    return c;
  }
  c.index = std::move(reading.index);
  return c;
}

}  // namespace

bool DeltaTargets(const std::string& archivePath, const std::string& destination,
                  std::vector<std::string>& targets) {
  Mapping archive;
  if (!MapForReading(archivePath, archive)) return false;
  const Checked c = Check(archive, destination);
  if (!c.index) return false;
  targets.insert(targets.end(), c.patchTargets.begin(), c.patchTargets.end());
  targets.insert(targets.end(), c.removalTargets.begin(), c.removalTargets.end());
  return true;
}

DeltaApplication ApplyDeltaArchive(const std::string& archivePath, const std::string& destination,
                                   const MayWrite& mayWrite, const FileHash& expected) {
  DeltaApplication result;
  auto notTaken = [&result](std::string why) {
    result.outcome = DeltaOutcome::NotTaken;
    result.reason = std::move(why);
    return result;
  };
  // Held from its check until it is applied, writers and deleters shut out:
  // what is applied is what was checked.
  Mapping archive;
  bool mismatch = false;
  archive.file = HoldChecked(archivePath, expected, mismatch);
  if (mismatch) return notTaken("the delta archive changed since its download");
  if (!MapHeld(archive)) return notTaken("cannot read " + archivePath);
  const Checked c = Check(archive, destination);
  if (!c.index) return notTaken(c.problem);
  const DeltaIndex& index = *c.index;
  for (const auto* list : {&c.patchTargets, &c.removalTargets}) {
    for (const std::string& target : *list) {
      if (mayWrite && !mayWrite(target)) {
        result.outcome = DeltaOutcome::NoRights;
        result.reason = target;
        return result;
      }
    }
  }
  for (const DeltaPatch& p : index.patches) {
    if (p.baseBytes > kMaxDeltaBase || p.resultBytes > kMaxDeltaBase) {
      return notTaken(p.name + ": larger than this build maps (" + std::to_string(kMaxDeltaBase) + " bytes)");
    }
  }
  std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> dctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!dctx) return notTaken("no memory for the decoder");
  // Each base is read once: hashed and decoded from the same bytes; each
  // result is hashed from the bytes it was decoded into and left beside its
  // target. Nothing of the game changes until every base and every result
  // matched the release's digests.
  std::vector<std::string> temps;
  auto drop = [&temps](std::size_t from) {
    for (std::size_t k = from; k < temps.size(); ++k) DeleteFileA(temps[k].c_str());
  };
  std::vector<char> runBases, runResults;
  std::set<std::string> made;
  Sha256Hasher bases, results;
  const std::size_t count = index.patches.size();
  for (std::size_t first = 0; first < count;) {
    // A run: this patch's frame and the patches that continue it.
    std::size_t end = first + 1;
    while (end < count && index.patches[end].frameBytes == 0) ++end;
    // Only a file alone in its frame may be large (the index's rule).
    const bool alone = end - first == 1;
    const bool large = alone && index.patches[first].resultBytes > kSmallFile;
    runBases.clear();
    std::vector<Base> read(end - first);
    std::string why;
    std::uint64_t resultBytes = 0;
    for (std::size_t k = first; k < end && why.empty(); ++k) {
      const DeltaPatch& p = index.patches[k];
      Base& base = read[k - first];
      why = ReadBase(c.patchTargets[k], p.baseBytes, base, runBases);
      // A file the release adds has an empty base: none on disk is that.
      if (why.empty() && !(base.missing && p.baseBytes == 0) && (base.missing || base.size != p.baseBytes)) {
        why = "the base " + c.patchTargets[k] + " is not the previous release's file (" +
              (base.missing ? std::string("missing") : std::to_string(base.size) + " bytes") + ")";
      }
      if (why.empty() && !large && !bases.Update(base.data, static_cast<std::size_t>(base.size))) {
        why = "the bases cannot be hashed";
      }
      resultBytes += p.resultBytes;
    }
    for (std::size_t k = first; k < end && why.empty(); ++k)
      why = MakeParents(c.patchTargets[k], destination, made);
    if (why.empty() && large) {
      const std::string temp = c.patchTargets[first] + ".qzdnew";
      // A large base is hashed on a second thread while its result is decoded
      // and hashed here: the two hashes, not the decoding, are most of the
      // time, and both read memory that stays mapped until the run ends.
      bool baseHashed = false;
      std::thread baseHash(
          [&] { baseHashed = bases.Update(read[0].data, static_cast<std::size_t>(read[0].size)); });
      why = WriteLarge(dctx.get(), archive, index.patches[first], read[0], temp, results);
      baseHash.join();
      if (why.empty() && !baseHashed) why = "the bases cannot be hashed";
      if (why.empty())
        temps.push_back(temp);
      else
        DeleteFileA(temp.c_str());
    } else if (why.empty()) {
      // Small results: the run decoded in memory, each written with one call.
      runResults.resize(static_cast<std::size_t>(resultBytes));
      // A file alone may have a large (mapped) base.
      why = Decode(dctx.get(), archive, index.patches[first], resultBytes,
                   alone ? read[0].data : runBases.data(), alone ? read[0].size : runBases.size(),
                   runResults.data());
      if (why.empty() && !results.Update(runResults.data(), runResults.size()))
        why = "the results cannot be hashed";
      std::uint64_t at = 0;
      for (std::size_t k = first; k < end && why.empty(); ++k) {
        const std::string temp = c.patchTargets[k] + ".qzdnew";
        why = WriteTemp(temp, runResults.data() + at, index.patches[k].resultBytes);
        at += index.patches[k].resultBytes;
        if (why.empty())
          temps.push_back(temp);
        else
          DeleteFileA(temp.c_str());
      }
    }
    if (!why.empty()) {
      drop(0);
      return notTaken(why);
    }
    first = end;
  }
  if (bases.Finish() != index.basesSha256) {
    drop(0);
    return notTaken("the old files are not the previous release's (their SHA-256 differs)");
  }
  if (results.Finish() != index.resultsSha256) {
    drop(0);
    return notTaken("the results are not the released files (their SHA-256 differs)");
  }
  for (std::size_t k = 0; k < index.patches.size(); ++k) {
    const std::string& target = c.patchTargets[k];
    std::string why;
    if (WritesGuarded()) {
      // The old file goes through a handle checked to be the one its name
      // names (a planted link is refused, not followed); the result then
      // takes a name where nothing stands.
      if (!DeleteThroughHandle(target, false) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        why = "cannot replace " + target + " (error " + std::to_string(GetLastError()) + ")";
      }
      if (why.empty() && !MoveFileExA(temps[k].c_str(), target.c_str(), 0)) {
        why = "cannot replace " + target + " (error " + std::to_string(GetLastError()) + ")";
      }
    } else if (!ClearReadOnly(target)) {
      why = "cannot make " + target + " writable";
    }
    if (why.empty() && !WritesGuarded() &&
        !MoveFileExA(temps[k].c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      why = "cannot replace " + target + " (error " + std::to_string(GetLastError()) + ")";
    }
    if (!why.empty()) {
      drop(k);
      return notTaken(why);
    }
  }
  runlog::Write("delta", "patched " + std::to_string(index.patches.size()) + " files in " + destination);
  RemoveListed(index.removed, destination, c.patchTargets);
  result.outcome = DeltaOutcome::Applied;
  return result;
}

void RemoveListed(const std::vector<std::string>& names, const std::string& destination,
                  const std::vector<std::string>& written) {
  std::vector<std::wstring> writtenKeys;
  writtenKeys.reserve(written.size());
  for (const std::string& target : written) writtenKeys.push_back(NameKey(target));
  std::sort(writtenKeys.begin(), writtenKeys.end(), FoldedLess);
  std::vector<std::string> targets;
  try {
    for (const std::string& name : names) {
      if (!IsDeltaName(name)) throw CZipException(CZipException::errBadArchive, name);
      targets.push_back(Target(name, destination));
    }
  } catch (const CZipException& error) {
    runlog::Write("remove", "refused: a name that leaves the game's folder or may not be used (" +
                                error.fileName + "); nothing removed");
    return;
  }
  for (const std::string& target : targets) {
    // The release brings a file of this name (in any case Windows folds
    // alike): it was just written and stays.
    if (std::binary_search(writtenKeys.begin(), writtenKeys.end(), NameKey(target), FoldedLess)) {
      runlog::Write("remove", target + ": kept, the release brings it");
      continue;
    }
    // Removed through a handle: a link stands for itself and is never
    // followed, and under an administrator's guard one is not removed at all.
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      runlog::Write("remove", target + ": not there");
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder that still holds files (the player's own, say) stays.
      runlog::Write("remove",
                    target + (DeleteThroughHandle(target, true) ? ": folder removed" : ": folder kept"));
    } else {
      const bool removed = DeleteThroughHandle(target, false);
      runlog::Write("remove", target + (removed ? ": removed"
                                                : ": could not be removed (error " +
                                                      std::to_string(GetLastError()) + ")"));
    }
  }
}

}  // namespace qz
