// Applies one release's update to a game folder, as the launcher does, and
// prints the time and memory it took: "delta ARCHIVE.qzd DIR" through the
// delta archive, "whole PATCH.zip DIR" by unpacking the whole-file patch.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "update/delta_apply.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

PROCESS_MEMORY_COUNTERS Counters() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return c;
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
  const PROCESS_MEMORY_COUNTERS before = Counters();
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  bool ok = true;
  if (mode == "delta") {
    const qz::DeltaApplication a = qz::ApplyDeltaArchive(archive, dir, {});
    ok = a.outcome == qz::DeltaOutcome::Applied;
    if (!ok) std::fprintf(stderr, "not taken: %s\n", a.reason.c_str());
  } else {
    try {
      CZipArchive zip;
      zip.Open(archive.c_str(), CZipArchive::zipOpenReadOnly, 0);
      for (int i = 0; i < zip.GetEntryCount(); ++i) zip.ExtractEntry(static_cast<std::uint32_t>(i), dir.c_str());
      zip.Close();
    } catch (const CZipException& e) {
      std::fprintf(stderr, "zip error %d\n", e.cause);
      ok = false;
    }
  }
  QueryPerformanceCounter(&t1);
  const PROCESS_MEMORY_COUNTERS after = Counters();
  std::printf("ms=%.1f\n", 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart));
  // Private memory: mapped files are not part of it.
  std::printf("peak_private_mb=%.1f\n", static_cast<double>(after.PeakPagefileUsage) / 1048576.0);
  std::printf("grown_private_mb=%.1f\n",
              static_cast<double>(after.PeakPagefileUsage - before.PagefileUsage) / 1048576.0);
  std::printf("peak_ws_mb=%.1f\n", static_cast<double>(after.PeakWorkingSetSize) / 1048576.0);
  return ok ? 0 : 1;
}
