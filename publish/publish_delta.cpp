#include "publish/publish_delta.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
// The frame format without its magic number is part of the advanced API.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>

#include "format/delta_archive.h"
#include "format/name_case.h"
#include "publish/publish_crypto.h"
#include "publish/publish_error.h"
#include "publish/publish_files.h"

namespace qz::publish {

namespace {

// A file's bytes, mapped read-only (an empty file maps to nothing).
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) close(fd);
      throw PublishError("cannot read " + path);
    }
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > 0) {
      data_ = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      if (data_ == MAP_FAILED) data_ = nullptr;
    }
    close(fd);
    if (size_ > 0 && !data_) throw PublishError("cannot read " + path);
  }
  ~MappedFile() {
    if (data_) munmap(data_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const void* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

std::uint64_t SizeOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw PublishError("cannot read " + path);
  return static_cast<std::uint64_t>(st.st_size);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The file the player has at this path: the same name, or one that differs
// only in case (Windows opens it by either); none for a new file.
const std::string* BaseOf(const Listing& oldTree, const std::string& path) {
  auto it = oldTree.find(path);
  if (it != oldTree.end()) return it->second.folder ? nullptr : &it->first;
  for (const auto& [old, item] : oldTree) {
    if (!item.folder && SameFileName(old, path)) return &old;
  }
  return nullptr;
}

unsigned WindowLogFor(std::uint64_t bytes) {
  unsigned log = 10;
  while (log < 31 && (1ull << log) < bytes) ++log;
  return log;
}

// One frame of `target` against `base`, as `zstd --patch-from --long`
// makes it: the window holds the whole base and the result, so the end of
// the result still reaches the start of the base, and long-distance
// matching finds moved blocks anywhere in it. Small files keep the level's
// own window (long matching only pays across megabytes). A run of small
// files is one frame: their bases one after the other, their results too.
std::string Frame(ZSTD_CCtx* cctx, std::string_view base, std::string_view target, const std::string& name,
                  int level) {
  ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
  const unsigned windowLog = WindowLogFor(static_cast<std::uint64_t>(base.size()) + target.size());
  std::string frame(ZSTD_compressBound(target.size()), '\0');
  size_t rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
  if (!ZSTD_isError(rc)) rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, static_cast<int>(windowLog));
  if (!ZSTD_isError(rc) && windowLog > 24) {
    rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1);
    // As `zstd` itself runs by default: long matches found over the whole
    // input first, then the blocks compressed; that finds markedly more of a
    // large file's moved and kept parts (156 KB against 226 KB for a 64 MiB
    // file with scattered changes). A library without threads compresses on
    // this one, as before.
    if (!ZSTD_isError(rc)) ZSTD_CCtx_setParameter(cctx, ZSTD_c_nbWorkers, 2);
  }
  // Nothing the launcher does not check itself (the index holds the SHA-256).
  if (!ZSTD_isError(rc)) rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 0);
  if (!ZSTD_isError(rc)) rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_dictIDFlag, 0);
  // The index says where each frame is: its magic number would be 4 bytes of nothing.
  if (!ZSTD_isError(rc)) rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_format, ZSTD_f_zstd1_magicless);
  if (!ZSTD_isError(rc)) rc = ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1);
  if (!ZSTD_isError(rc) && base.size() > 0) rc = ZSTD_CCtx_refPrefix(cctx, base.data(), base.size());
  if (!ZSTD_isError(rc)) rc = ZSTD_compress2(cctx, &frame[0], frame.size(), target.data(), target.size());
  if (ZSTD_isError(rc)) throw PublishError("cannot make the delta of " + name + ": " + ZSTD_getErrorName(rc));
  frame.resize(rc);
  return frame;
}

}  // namespace

std::string DeltaPathOf(const std::string& patchPath) {
  const std::size_t dot = patchPath.rfind('.');
  const std::size_t slash = patchPath.rfind('/');
  const bool zip = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                   Lower(patchPath.substr(dot)) == ".zip";
  return (zip ? patchPath.substr(0, dot) : patchPath) + ".qzd";
}

DeltaResult WriteDeltaArchive(const std::string& out, const std::string& oldRoot, const Listing& oldTree,
                              const std::string& newRoot, const PatchPlan& plan,
                              const DeltaOptions& options) {
  DeltaResult result;
  for (const ArchiveEntry& e : plan.entries) {
    if (e.folder) continue;
    const std::string* base = BaseOf(oldTree, e.path);
    const std::uint64_t largest =
        std::max(SizeOf(newRoot + "/" + e.path), base ? SizeOf(oldRoot + "/" + *base) : 0);
    if (largest > options.deltaMax) {
      result.why = e.path + " is larger than --delta-max (" + std::to_string(largest) + " bytes)";
      return result;
    }
  }
  std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> cctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
  if (!cctx) throw PublishError("out of memory for the delta");
  DeltaIndex index;
  std::string frames;
  Sha256Stream bases, results;
  // The run being gathered: its files' bases and results, one after the other.
  std::string runBases, runResults;
  std::size_t runStart = 0;
  // A run goes as one frame or as a frame a file, whichever is smaller: one
  // frame pays its own cost once, but its matches reach further back (into
  // every base before), which costs more where every line changes.
  auto flush = [&]() {
    const std::size_t end = index.patches.size();
    if (end == runStart) return;
    const std::string solid =
        Frame(cctx.get(), runBases, runResults, index.patches[runStart].name, options.level);
    std::string each;
    std::vector<std::uint64_t> sizes;
    std::size_t baseAt = 0, resultAt = 0;
    for (std::size_t k = runStart; k < end && end - runStart > 1 && each.size() < solid.size(); ++k) {
      const DeltaPatch& p = index.patches[k];
      const std::size_t before = each.size();
      each += Frame(cctx.get(), std::string_view(runBases).substr(baseAt, p.baseBytes),
                    std::string_view(runResults).substr(resultAt, p.resultBytes), p.name, options.level);
      sizes.push_back(each.size() - before);
      baseAt += p.baseBytes;
      resultAt += p.resultBytes;
    }
    if (sizes.size() == end - runStart && each.size() < solid.size()) {
      for (std::size_t k = runStart; k < end; ++k) index.patches[k].frameBytes = sizes[k - runStart];
      frames += each;
    } else {
      index.patches[runStart].frameBytes = solid.size();
      frames += solid;
    }
    runBases.clear();
    runResults.clear();
    runStart = end;
  };
  for (const ArchiveEntry& e : plan.entries) {
    if (e.folder) continue;  // an empty folder comes with the whole-file patch only
    const std::string* base = BaseOf(oldTree, e.path);
    // A new file has an empty base: the player has none, or an empty one.
    const MappedFile baseBytes(base ? oldRoot + "/" + *base : "/dev/null");
    const MappedFile target(newRoot + "/" + e.path);
    const std::string_view baseView(static_cast<const char*>(baseBytes.data()), baseBytes.size());
    const std::string_view targetView(static_cast<const char*>(target.data()), target.size());
    DeltaPatch p;
    p.name = e.zipName;
    p.baseBytes = baseBytes.size();
    p.resultBytes = target.size();
    bases.Update(baseBytes.data(), baseBytes.size());
    results.Update(target.data(), target.size());
    const bool small = p.baseBytes <= kMaxDeltaRunFile && p.resultBytes <= kMaxDeltaRunFile;
    if (!small || runBases.size() + p.baseBytes > kMaxDeltaRunBytes ||
        runResults.size() + p.resultBytes > kMaxDeltaRunBytes) {
      flush();
    }
    index.patches.push_back(std::move(p));
    if (small) {
      runBases.append(baseView);
      runResults.append(targetView);
    } else {
      // A large file is a frame of its own, made from its mapping.
      const std::string frame = Frame(cctx.get(), baseView, targetView, e.path, options.level);
      index.patches.back().frameBytes = frame.size();
      frames += frame;
      runStart = index.patches.size();
    }
  }
  flush();
  index.removed = plan.removed;
  index.basesSha256 = *ParseSha256Hex(bases.HexDigest());
  index.resultsSha256 = *ParseSha256Hex(results.HexDigest());
  const std::string archive = DeltaIndexBytes(index) + frames;
  result.bytes = archive.size();
  result.changed = index.patches.size();
  const std::uint64_t saving =
      std::max<std::uint64_t>(kDeltaMinSaving, options.wholeBytes * kDeltaMinSavingPercent / 100);
  if (archive.size() + saving > options.wholeBytes) {
    result.why = "it would take " + std::to_string(archive.size()) +
                 " bytes against the whole-file patch's " + std::to_string(options.wholeBytes) +
                 " (a delta must save at least " + std::to_string(kDeltaMinSavingPercent) + " % and " +
                 std::to_string(kDeltaMinSaving) + " bytes)";
    return result;
  }
  WriteReplacing(out, archive);
  result.written = true;
  return result;
}

}  // namespace qz::publish
