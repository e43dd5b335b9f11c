// Applies one release's update to a game folder, as the launcher does, and
// prints the time and memory it took: "delta ARCHIVE.qzd DIR" through the
// delta archive, "whole PATCH.zip DIR" by unpacking the whole-file patch
// (its removed list acted on, as the launcher does). For the delta it also
// prints how long SHA-256 alone takes over the bytes the delta hashes (every
// base and every result), Wine's CNG being the suspected bound.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "format/delta_archive.h"
#include "update/delta_apply.h"
#include "update/digest.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

PROCESS_MEMORY_COUNTERS Counters() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return c;
}

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// The bytes a delta hashes, read from its index before it is applied.
std::uint64_t HashedBytes(const std::string& archive) {
  HANDLE file =
      CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  std::string head(static_cast<std::size_t>(std::min<LONGLONG>(size.QuadPart, qz::kMaxDeltaIndexBytes + 16)),
                   '\0');
  DWORD got = 0;
  ReadFile(file, &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
  CloseHandle(file);
  const qz::DeltaReading r = qz::ReadDeltaIndex(head, static_cast<std::uint64_t>(size.QuadPart));
  std::uint64_t bytes = 0;
  if (r.index) {
    for (const qz::DeltaPatch& p : r.index->patches) bytes += p.baseBytes + p.resultBytes;
  }
  return bytes;
}

// Unpacks every entry but the removed list, then removes what it lists.
bool Unpack(const std::string& archive, const std::string& dir) {
  try {
    CZipArchive zip;
    zip.Open(archive.c_str(), CZipArchive::zipOpenReadOnly, 0);
    std::vector<std::string> written, removed;
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
      CZipEntryInfo entry;
      zip.GetEntryInfo(entry, static_cast<std::uint32_t>(i));
      if (entry.GetName() == qz::kRemovedListName) {
        std::string text(static_cast<std::size_t>(entry.uncompressedSize), '\0');
        zip.OpenEntry(static_cast<std::uint32_t>(i));
        if (!text.empty()) zip.ReadEntry(&text[0], static_cast<std::uint32_t>(text.size()));
        zip.CloseEntry();
        removed = qz::ReadRemovedList(text).value_or(std::vector<std::string>{});
        continue;
      }
      written.push_back(zip.PredictTargetPath(entry.GetName().c_str(), dir.c_str(), true, nullptr));
      zip.ExtractEntry(static_cast<std::uint32_t>(i), dir.c_str());
    }
    zip.Close();
    qz::RemoveListed(removed, dir, written);
    return true;
  } catch (const CZipException& e) {
    std::fprintf(stderr, "zip error %d\n", e.cause);
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: delta_bench_win delta|whole ARCHIVE DIR\n");
    return 2;
  }
  const std::string mode = argv[1], archive = argv[2];
  std::string dir = argv[3];
  if (dir.back() != '\\') dir += '\\';
  const std::uint64_t hashed = mode == "delta" ? HashedBytes(archive) : 0;
  const PROCESS_MEMORY_COUNTERS before = Counters();
  const double t0 = Now();
  bool ok = true;
  if (mode == "delta") {
    const qz::DeltaApplication a = qz::ApplyDeltaArchive(archive, dir, {}, qz::FileHash());
    ok = a.outcome == qz::DeltaOutcome::Applied;
    if (!ok) std::fprintf(stderr, "not taken: %s\n", a.reason.c_str());
  } else {
    ok = Unpack(archive, dir);
  }
  const double t1 = Now();
  const PROCESS_MEMORY_COUNTERS after = Counters();
  std::printf("ms=%.1f\n", t1 - t0);
  // Private memory: mapped files are not part of it.
  std::printf("peak_private_mb=%.1f\n", static_cast<double>(after.PeakPagefileUsage) / 1048576.0);
  std::printf("grown_private_mb=%.1f\n",
              static_cast<double>(after.PeakPagefileUsage - before.PagefileUsage) / 1048576.0);
  if (hashed > 0) {
    std::vector<char> block(1 << 20, 'x');
    const double h0 = Now();
    qz::Sha256Hasher hasher;
    for (std::uint64_t left = hashed; left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
      hasher.Update(block.data(), n);
      left -= n;
    }
    hasher.Finish();
    std::printf("sha_ms=%.1f\nsha_mb=%.1f\n", Now() - h0, static_cast<double>(hashed) / 1048576.0);
  }
  return ok ? 0 : 1;
}
