// Download throughput under Wine: the real worker path (the wizard with its
// progress page, shown on its refresh timer) against a bare WinINet loop that only
// reads blocks (QZ_READ bytes, 65535 unless given) and writes them. Prints one line of figures:
//   <mode> seconds=<s> transfer=<s> bytes=<n> mbps=<MB/s> max_ui_block_ms=<ms> peak_mb=<MB>
// Usage: download_bench_win worker|worker-hashed|bare|bare-thread|bare-dialog URL FOLDER [SHA256]
//        download_bench_win hash FILE     (SHA-256 alone over a saved file, as the worker hashes)
// QZ_EXIT_AT=BYTES ends the process at once when the file being saved holds
// that many bytes: a launcher closed, or a PC switched off, mid-download.
// QZ_CAP_KBPS=N runs the worker under the player's rate cap of N KB/s.
// QZ_MIRRORS="BASE BASE..." gives the worker's run those mirrors.
// QZ_PROBE=1 also measures how long the wizard's thread takes to answer a
// message (every 20 ms); the probing itself slows Wine's message handling, so
// throughput runs go without it.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/field_text.h"
#include "base/run_log.h"
#include "format/codec.h"
#include "launcher/launcher_app.h"
#include "tests/winsupport/launcher_app_peer.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"
#include "update/digest.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double PeakMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0;
}

unsigned long long Bare(const char* url, const std::string& path) {
  HINTERNET session = InternetOpenA("Quorlynx", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET request = InternetOpenUrlA(session, url, nullptr, 0, 0x84000002, 1);
  if (!request) return 0;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD size = getenv("QZ_READ") ? static_cast<DWORD>(atoi(getenv("QZ_READ"))) : 65535;
  std::unique_ptr<char[]> buffer(new char[size]);
  unsigned long long total = 0;
  DWORD got = 0;
  while (InternetReadFile(request, buffer.get(), size, &got) && got) {
    DWORD written = 0;
    WriteFile(file, buffer.get(), got, &written, nullptr);
    total += got;
  }
  CloseHandle(file);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  return total;
}

// How long the download itself took, without the wizard's start and close:
// the worker's own figure from its log, or the bare thread's.
double g_transferSeconds = 0;

// The "received in N ms" of the last file the worker saved.
double TransferSecondsFromLog(const std::string& log) {
  FILE* f = std::fopen(log.c_str(), "rb");
  if (!f) return 0;
  char line[1024];
  double seconds = 0;
  while (std::fgets(line, sizeof line, f)) {
    if (const char* at = std::strstr(line, " received in ")) seconds = std::atof(at + 13) / 1000.0;
  }
  std::fclose(f);
  return seconds;
}

// Measures how long the wizard's thread takes to answer, every 20 ms.
std::atomic<bool> g_done{false};
std::atomic<unsigned> g_maxBlockMs{0};

DWORD WINAPI Probe(LPVOID) {
  HWND wizard = nullptr;
  while (!g_done) {
    if (!wizard || !IsWindow(wizard)) {
      wizard = FindWindowW(L"#32770", nullptr);
      if (wizard && !GetDlgItem(wizard, IDC_NEXT)) wizard = nullptr;
    }
    // Only once the progress page is up: the dialog's first paint (fonts
    // loaded once per process) is not part of the download.
    if (wizard && IsWindowVisible(GetDlgItem(wizard, IDC_PHASE))) {
      const DWORD start = GetTickCount();
      DWORD_PTR result = 0;
      SendMessageTimeoutW(wizard, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
      const unsigned took = GetTickCount() - start;
      if (took > g_maxBlockMs) g_maxBlockMs = took;
    }
    Sleep(20);
  }
  return 0;
}

unsigned long long Worker(const char* url, const std::string& folder, const char* sha256Hex) {
  using namespace qz;
  auto app = std::make_unique<LauncherApp>(GetModuleHandleW(nullptr));
  LauncherAppPeer peer(*app);
  peer.workDir() = folder;
  peer.http().OpenSession(kProgramName);
  peer.target() = Target::AvatarModule;  // progress page and worker at once
  peer.action() = Action::Upgrade;
  UpdateFile file;
  file.version = 1;
  file.url = url;
  // With the publisher's hash the worker checks every byte as it arrives.
  if (sha256Hex) {
    const std::optional<Sha256Digest> digest = ParseSha256Hex(sha256Hex);
    if (!digest) return 0;
    file.hash.present = true;
    file.hash.digest = *digest;
  }
  peer.plan().updateList.push_back(std::move(file));
  if (const char* mirrors = getenv("QZ_MIRRORS")) {
    std::string list = mirrors;
    for (std::size_t at = 0; at < list.size();) {
      const std::size_t end = list.find(' ', at) == std::string::npos ? list.size() : list.find(' ', at);
      if (end > at) peer.plan().mirrors.push_back(list.substr(at, end - at));
      at = end + 1;
    }
  }
  const std::string log = folder + "Quorlynx.log";
  DeleteFileA(log.c_str());
  runlog::Open(log);
  HANDLE probe = getenv("QZ_PROBE") ? CreateThread(nullptr, 0, Probe, nullptr, 0, nullptr) : nullptr;
  const DialogEnd result = app->RunWizard().result;
  g_done = true;
  g_transferSeconds = TransferSecondsFromLog(log);
  if (probe) {
    WaitForSingleObject(probe, INFINITE);
    CloseHandle(probe);
  }
  // Saved under the file's version and the URL's last part.
  std::string local = folder + "1_";
  const char* slash = std::strrchr(url, '/');
  local += slash ? slash + 1 : "download";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(local.c_str(), GetFileExInfoStandard, &data);
  return result == DialogEnd::Done
             ? (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
             : 0;
}

// The bare loop on a thread of its own, with the main thread idle (waiting)
// or running a modal message loop: tells Wine's threading costs apart from
// the wizard's.
struct BareJob {
  const char* url;
  std::string path;
  unsigned long long bytes = 0;
  bool closeBox = false;
};

DWORD WINAPI BareThread(LPVOID p) {
  auto* job = static_cast<BareJob*>(p);
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  job->bytes = Bare(job->url, job->path);
  QueryPerformanceCounter(&b);
  g_transferSeconds = Seconds(a, b);
  if (job->closeBox) {
    for (int i = 0; i < 100; ++i) {
      if (HWND box = FindWindowW(L"#32770", L"bench")) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        break;
      }
      Sleep(20);
    }
  }
  return 0;
}

unsigned long long BareOnThread(const char* url, const std::string& path, bool withDialog) {
  BareJob job{url, path, 0, withDialog};
  HANDLE thread = CreateThread(nullptr, 0, BareThread, &job, 0, nullptr);
  if (withDialog) MessageBoxW(nullptr, L"downloading", L"bench", MB_OK);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return job.bytes;
}

// Ends the process, as a player's closing or a power cut would, once the
// part being saved in `folder` reaches QZ_EXIT_AT bytes.
DWORD WINAPI ExitAt(LPVOID p) {
  const std::string part = *static_cast<std::string*>(p);
  const unsigned long long limit = std::strtoull(getenv("QZ_EXIT_AT"), nullptr, 10);
  for (;;) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(part.c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) >= limit) {
      std::printf("exit-at bytes=%llu peak_mb=%.1f\n", limit, PeakMb());
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    Sleep(20);
  }
}

// SHA-256 alone over a file, read in 1 MiB blocks: the bound on a download
// that checks its hash.
unsigned long long HashAlone(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  qz::Sha256Hasher hasher;
  unsigned long long total = 0;
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  DWORD got = 0;
  while (ReadFile(file, buffer.get(), 1 << 20, &got, nullptr) && got) {
    hasher.Update(buffer.get(), got);
    total += got;
  }
  const bool ok = hasher.Finish().has_value();
  QueryPerformanceCounter(&b);
  g_transferSeconds = Seconds(a, b);
  CloseHandle(file);
  return ok ? total : 0;
}

// The player's cap, as the settings page would leave it.
void SetPlayerCap(const char* kbps) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veltoworks", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr))
    return;
  if (kbps) {
    const DWORD value = static_cast<DWORD>(std::strtoul(kbps, nullptr, 10));
    RegSetValueExA(key, "RateLimitKBps", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  } else {
    RegDeleteValueA(key, "RateLimitKBps");
  }
  RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 && !(argc == 3 && std::strcmp(argv[1], "hash") == 0)) {
    std::fprintf(
        stderr,
        "usage: download_bench_win worker|worker-hashed|bare|bare-thread|bare-dialog URL FOLDER [SHA256]\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::string folder = argc > 3 ? argv[3] : "";
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  SetPlayerCap(getenv("QZ_CAP_KBPS"));
  std::string part;
  if (getenv("QZ_EXIT_AT")) {
    const char* slash = std::strrchr(argv[2], '/');
    part = folder + "1_" + (slash ? slash + 1 : "download") + ".part";
    CloseHandle(CreateThread(nullptr, 0, ExitAt, &part, 0, nullptr));
  }
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  unsigned long long bytes = 0;
  if (mode == "hash") {
    bytes = HashAlone(argv[2]);
  } else if (mode == "bare") {
    bytes = Bare(argv[2], folder + "bare.bin");
  } else if (mode == "bare-thread") {
    bytes = BareOnThread(argv[2], folder + "bare.bin", false);
  } else if (mode == "bare-dialog") {
    bytes = BareOnThread(argv[2], folder + "bare.bin", true);
  } else if (mode == "worker-hashed") {
    bytes = argc > 4 ? Worker(argv[2], folder, argv[4]) : 0;
  } else {
    bytes = Worker(argv[2], folder, nullptr);
  }
  QueryPerformanceCounter(&b);
  const double s = Seconds(a, b);
  // mbps is the download's own rate; seconds the whole run, start and close included.
  const double transfer = g_transferSeconds > 0 ? g_transferSeconds : s;
  std::printf("%s seconds=%.3f transfer=%.3f bytes=%llu mbps=%.1f max_ui_block_ms=%u peak_mb=%.1f\n",
              mode.c_str(), s, transfer, bytes, static_cast<double>(bytes) / 1048576.0 / transfer,
              g_maxBlockMs.load(), PeakMb());
  return bytes ? 0 : 1;
}
