#include "update/delta_apply.h"

#include <windows.h>
#include <zstd.h>

#include <memory>
#include <optional>

#include "base/run_log.h"
#include "base/win_handles.h"
#include "format/delta_archive.h"
#include "update/digest.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace qz {

namespace {

// The decoder's window: a frame that asks for more is refused, not allocated.
constexpr int kWindowLogMax = sizeof(void*) == 4 ? 28 : 31;

// A whole file mapped read-only: never copied into the heap. An empty file
// maps to nothing.
struct Mapping {
  FileHandle file;
  Handle section;
  MappedView view;
  std::uint64_t size = 0;
  const char* data() const { return static_cast<const char*>(view.get()); }
};

bool MapForReading(const std::string& path, Mapping& m) {
  m.file.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!m.file || !GetFileSizeEx(m.file.get(), &size)) return false;
  m.size = static_cast<std::uint64_t>(size.QuadPart);
  if (m.size == 0) return true;
  if (m.size > SIZE_MAX) return false;
  m.section.reset(CreateFileMappingA(m.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (m.section) m.view.reset(MapViewOfFile(m.section.get(), FILE_MAP_READ, 0, 0, 0));
  return static_cast<bool>(m.view);
}

std::optional<Sha256Digest> HashOf(const Mapping& m) {
  Sha256Hasher hasher;
  // In slices: CNG takes 32-bit lengths.
  for (std::uint64_t at = 0; at < m.size; at += 1u << 24) {
    const std::uint64_t n = m.size - at < (1u << 24) ? m.size - at : (1u << 24);
    if (!hasher.Update(m.data() + at, static_cast<std::size_t>(n))) return std::nullopt;
  }
  return hasher.Finish();
}

std::string Target(const std::string& name, const std::string& destination) {
  CZipArchive rules;
  return rules.CheckedTargetPath(name.c_str(), destination.c_str(), true, nullptr);
}

// The folders above a new file inside the destination.
void MakeParents(const std::string& path, const std::string& destination) {
  for (std::size_t at = path.find('\\', destination.size()); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
}

bool ClearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// The result of one frame, written beside its target and checked; "" or why not.
std::string WriteResult(ZSTD_DCtx* dctx, const Mapping& archive, const DeltaPatch& p, const Mapping& base,
                        const std::string& temp) {
  // The frame must say the size the index states before a file of that size is made.
  const unsigned long long content =
      ZSTD_getFrameContentSize(archive.data() + p.frameOffset, static_cast<std::size_t>(p.frameBytes));
  if (content != p.resultBytes) return "the frame of " + p.name + " does not hold the stated size";
  FileHandle out(CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return "cannot create " + temp + " (error " + std::to_string(GetLastError()) + ")";
  if (p.resultBytes > 0) {
    const auto high = static_cast<DWORD>(p.resultBytes >> 32), low = static_cast<DWORD>(p.resultBytes);
    Handle section(CreateFileMappingA(out.get(), nullptr, PAGE_READWRITE, high, low, nullptr));
    MappedView view(section ? MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    if (!view) return "cannot map " + temp + " (error " + std::to_string(GetLastError()) + ")";
    ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, kWindowLogMax);
    if (base.size > 0) ZSTD_DCtx_refPrefix(dctx, base.data(), static_cast<std::size_t>(base.size));
    const std::size_t n =
        ZSTD_decompressDCtx(dctx, view.get(), static_cast<std::size_t>(p.resultBytes),
                            archive.data() + p.frameOffset, static_cast<std::size_t>(p.frameBytes));
    if (ZSTD_isError(n)) return std::string("the frame does not decode: ") + ZSTD_getErrorName(n);
    if (n != p.resultBytes) return "the frame gives " + std::to_string(n) + " bytes, not " + std::to_string(p.resultBytes);
    // Checked from the view it was decoded into, while its pages are at hand.
    Mapping result;
    result.view.reset(view.release());
    result.size = p.resultBytes;
    if (HashOf(result) != p.resultSha256) return "the result of " + p.name + " is not the released file";
    return "";
  }
  if (Sha256Of("", 0) != p.resultSha256) return "the result of " + p.name + " is not the released file";
  return "";
}

// Everything the archive would touch, checked before anything changes.
struct Checked {
  std::optional<DeltaIndex> index;
  std::vector<std::string> patchTargets, removalTargets;
  std::string problem;
};

Checked Check(const Mapping& archive, const std::string& destination) {
  Checked c;
  const std::uint64_t viewed = archive.size < kMaxDeltaIndexBytes ? archive.size : kMaxDeltaIndexBytes;
  DeltaReading reading = ReadDeltaIndex(std::string_view(archive.data() ? archive.data() : "",
                                                          static_cast<std::size_t>(viewed)),
                                        archive.size);
  if (!reading.index) {
    c.problem = "the delta archive is refused: " + reading.problem;
    return c;
  }
  try {
    for (const DeltaPatch& p : reading.index->patches) c.patchTargets.push_back(Target(p.name, destination));
    for (const std::string& name : reading.index->removed) c.removalTargets.push_back(Target(name, destination));
  } catch (const CZipException& error) {
    c.problem = "a name the unpacking rules refuse (" + error.fileName + ")";
    return c;
  }
  c.index = std::move(reading.index);
  return c;
}

}  // namespace

bool DeltaTargets(const std::string& archivePath, const std::string& destination, std::vector<std::string>& targets) {
  Mapping archive;
  if (!MapForReading(archivePath, archive)) return false;
  const Checked c = Check(archive, destination);
  if (!c.index) return false;
  targets.insert(targets.end(), c.patchTargets.begin(), c.patchTargets.end());
  targets.insert(targets.end(), c.removalTargets.begin(), c.removalTargets.end());
  return true;
}

DeltaApplication ApplyDeltaArchive(const std::string& archivePath, const std::string& destination,
                                   const MayWrite& mayWrite) {
  DeltaApplication result;
  auto notTaken = [&result](std::string why) {
    result.outcome = DeltaOutcome::NotTaken;
    result.reason = std::move(why);
    return result;
  };
  Mapping archive;
  if (!MapForReading(archivePath, archive)) return notTaken("cannot read " + archivePath);
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
  // Every base as the delta expects it, before anything is replaced.
  for (std::size_t k = 0; k < index.patches.size(); ++k) {
    const DeltaPatch& p = index.patches[k];
    const std::string& target = c.patchTargets[k];
    if (p.baseBytes > kMaxDeltaBase || p.resultBytes > kMaxDeltaBase) {
      return notTaken(p.name + ": larger than this build maps (" + std::to_string(kMaxDeltaBase) + " bytes)");
    }
    Mapping base;
    if (!MapForReading(target, base)) {
      // A file the release adds has an empty base: none on disk is that.
      if (p.baseBytes == 0 && GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      return notTaken("cannot read the base " + target);
    }
    if (base.size != p.baseBytes || HashOf(base) != p.baseSha256) {
      return notTaken("the base " + target + " is not the previous release's file");
    }
  }
  std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> dctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!dctx) return notTaken("no memory for the decoder");
  for (std::size_t k = 0; k < index.patches.size(); ++k) {
    const DeltaPatch& p = index.patches[k];
    const std::string& target = c.patchTargets[k];
    const std::string temp = target + ".qzdnew";
    MakeParents(target, destination);
    std::string why;
    {
      Mapping base;
      if (p.baseBytes > 0 && !MapForReading(target, base)) why = "cannot read the base " + target;
      if (why.empty()) why = WriteResult(dctx.get(), archive, p, base, temp);
    }
    if (why.empty() && !ClearReadOnly(target)) why = "cannot make " + target + " writable";
    if (why.empty() && !MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      why = "cannot replace " + target + " (error " + std::to_string(GetLastError()) + ")";
    }
    if (!why.empty()) {
      DeleteFileA(temp.c_str());
      return notTaken(why);
    }
    runlog::Write("delta", "patched " + target);
  }
  RemoveListed(index.removed, destination);
  result.outcome = DeltaOutcome::Applied;
  return result;
}

void RemoveListed(const std::vector<std::string>& names, const std::string& destination) {
  std::vector<std::string> targets;
  try {
    for (const std::string& name : names) {
      if (!IsDeltaName(name)) throw CZipException(CZipException::errBadArchive, name);
      targets.push_back(Target(name, destination));
    }
  } catch (const CZipException& error) {
    runlog::Write("remove", "refused: a name that leaves the game's folder or may not be used (" + error.fileName +
                                "); nothing removed");
    return;
  }
  for (const std::string& target : targets) {
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      runlog::Write("remove", target + ": not there");
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder that still holds files (the player's own, say) stays.
      runlog::Write("remove", target + (RemoveDirectoryA(target.c_str()) ? ": folder removed" : ": folder kept, not empty"));
    } else {
      const bool removed = ClearReadOnly(target) && DeleteFileA(target.c_str());
      runlog::Write("remove", target + (removed ? ": removed" : ": could not be removed (error " +
                                                                     std::to_string(GetLastError()) + ")"));
    }
  }
}

}  // namespace qz
