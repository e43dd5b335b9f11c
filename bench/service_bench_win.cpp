// The maintenance service's download path under Wine: the download worker
// with the WinHTTP client and no page to show (the service's figures go to a
// pipe), against the launcher's worker in download_bench_win. Prints:
//   service seconds=<s> bytes=<n> mbps=<MB/s>
// Usage: service_bench_win URL FOLDER [bare]   (bare: the WinHTTP client alone)
#include <windows.h>

#include <cstdio>
#include <string>

#include "update/download_worker.h"

namespace {

class NoPage final : public qz::ProgressSink {
 public:
  bool StopRequested() const override { return false; }
  bool ShowLine(Line, const std::wstring&) override { return true; }
  bool ShowStatus(qz::WorkerStatus, const std::string&, const std::string&) override { return true; }
  bool ShowPercent(unsigned) override { return true; }
  bool Settle() override { return true; }
  void ShowFailure(const qz::WorkerFailure&) override {}
  void Finish(qz::WorkerOutcome) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: service_bench_win URL FOLDER [bare]\n");
    return 2;
  }
  qz::HttpClient http;
  if (!http.OpenSession("Quorlynx")) return 1;
  if (argc == 4) {
    // The client alone: 1 MiB reads, nothing written.
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    if (!http.Get(argv[1])) return 1;
    std::string buffer(1 << 20, '\0');
    unsigned long long bytes = 0;
    for (int n; (n = http.Read(&buffer[0], static_cast<DWORD>(buffer.size()), false)) > 0;) bytes += n;
    QueryPerformanceCounter(&b);
    const double seconds = static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
    std::printf("bare-winhttp seconds=%.2f bytes=%llu mbps=%.1f\n", seconds, bytes,
                bytes / 1048576.0 / seconds);
    return 0;
  }
  qz::DownloadRequest request;
  request.http = &http;
  qz::UpdateFile file;
  file.version = 1;
  file.url = argv[1];
  request.files.push_back(file);
  request.workDir = std::string(argv[2]) + "\\";
  request.settings = qz::LoadDownloadSettings();
  NoPage sink;
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  const qz::DownloadOutcome outcome = qz::RunDownload(request, sink);
  QueryPerformanceCounter(&b);
  const double seconds = static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const std::string saved = request.workDir + "1_" + file.url.substr(file.url.rfind('/') + 1);
  unsigned long long bytes = 0;
  if (GetFileAttributesExA(saved.c_str(), GetFileExInfoStandard, &data))
    bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  std::printf("service seconds=%.2f bytes=%llu mbps=%.1f\n", seconds, bytes, bytes / 1048576.0 / seconds);
  return outcome.outcome == qz::WorkerOutcome::Done ? 0 : 1;
}
