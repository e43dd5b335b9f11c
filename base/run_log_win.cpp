// The support log's file: appended line by line under a lock, so the worker
// and the dialogs' thread can both write; a failure to write is never an
// error of the run.
#include <windows.h>

#include <cstdio>

#include "base/run_log.h"
#include "base/win_handles.h"

namespace qz::runlog {

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
std::string g_path;
std::string (*g_pathOfLine)() = nullptr;
void* g_room = nullptr;
std::size_t g_roomSize = 0;
void (*g_send)(const std::string&) = nullptr;

struct Hold {
  Hold() { AcquireSRWLockExclusive(&g_lock); }
  ~Hold() { ReleaseSRWLockExclusive(&g_lock); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
};

std::string Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

bool ReadAll(const std::string& path, std::string& content) {
  FileHandle file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size > 4 * kMaxBytes) return false;
  content.resize(size);
  DWORD got = 0;
  if (size && (!ReadFile(file.get(), &content[0], size, &got, nullptr) || got != size)) return false;
  return true;
}

bool WriteAll(const std::string& path, const std::string& content) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && (content.empty() || (WriteFile(file.get(), content.data(),
                                                static_cast<DWORD>(content.size()), &written, nullptr) &&
                                      written == content.size()));
}

// The older half moves to "<log>.1"; the log keeps the newer half.
void Rotate() {
  std::string content;
  if (!ReadAll(g_path, content)) return;
  const std::size_t cut = NewerHalfStart(content);
  if (WriteAll(g_path + ".1", content.substr(0, cut))) WriteAll(g_path, content.substr(cut));
}

}  // namespace

void Open(const std::string& path) {
  Hold hold;
  g_path = path;
  g_pathOfLine = nullptr;
}

void OpenEachTime(std::string (*pathOfLine)()) {
  Hold hold;
  g_path.clear();
  g_pathOfLine = pathOfLine;
}

void MirrorTo(void* room, std::size_t size) {
  Hold hold;
  g_room = room;
  g_roomSize = room ? size : 0;
}

void SendTo(void (*send)(const std::string& line)) {
  Hold hold;
  g_send = send;
}

void Write(const char* phase, const std::string& text) {
  Hold hold;
  if (g_pathOfLine) g_path = g_pathOfLine();
  if (g_path.empty() && !g_room && !g_send) return;
  const std::string line = LineText(Now(), phase, text);
  if (g_room) AppendToRoom(g_room, g_roomSize, line);
  if (g_send) g_send(line);
  if (g_path.empty()) return;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExA(g_path.c_str(), GetFileExInfoStandard, &data) &&
      (data.nFileSizeHigh != 0 || data.nFileSizeLow + line.size() > kMaxBytes)) {
    Rotate();
  }
  FileHandle file(CreateFileA(g_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void WriteCaught(const char* phase) noexcept {
  try {
    Write(phase, "unexpected error: " + CaughtText());
  } catch (...) {
  }
}

std::string ErrorText(unsigned long code) {
  // Looking a text up must not change the error a caller reports next.
  const DWORD kept = GetLastError();
  char text[512] = {};
  DWORD n = 0;
  // WinINet's and WinHTTP's codes (12000-12185) have their texts in their own
  // modules, whichever of the two this process uses.
  for (const char* module : {"wininet.dll", "winhttp.dll"}) {
    if (n != 0 || code < 12000 || code >= 13000) break;
    if (HMODULE loaded = GetModuleHandleA(module)) {
      n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, loaded, code, 0, text,
                         sizeof text, nullptr);
    }
  }
  if (n == 0) {
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                       sizeof text, nullptr);
  }
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  SetLastError(kept);
  return std::to_string(code) + " (" + (n ? std::string(text, n) : std::string("no text")) + ")";
}

}  // namespace qz::runlog
