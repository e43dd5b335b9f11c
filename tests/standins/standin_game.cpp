// Stand-in for a program that receives the launch record: the game (a "KG"
// name) or the installed launcher (a "K" name). It writes, next to itself,
//   <exe>.record.txt  command line, current folder, the process that started
//                     it, what it found
//   <exe>.block       the 1492 bytes it took over
// Environment: QZ_STANDIN_DELAY_MS delays the take-over (a slow start);
// QZ_STANDIN_MUTEX names a mutex whose existence is recorded;
// QZ_STANDIN_WRITE_HANDLE is a handle value of the starter's: the stand-in
// writes one byte to it, which arrives only if the handle was inherited.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "record/handover.h"
#include "record/section_name.h"

namespace {

// The process that started this one (0 when it cannot be told).
DWORD ParentProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

bool WriteWhole(const std::string& path, const void* data, size_t size) {
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  return ok && MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string args = qz::ArgumentsAfterProgram(GetCommandLineA());
  const std::string section = args.substr(0, args.find(' '));

  char delay[32] = {};
  if (GetEnvironmentVariableA("QZ_STANDIN_DELAY_MS", delay, sizeof delay)) Sleep(std::atoi(delay));

  std::string record;
  record += "cmdline=" + std::string(GetCommandLineA()) + "\n";
  record += "args=" + args + "\n";
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  record += "cwd=" + std::string(cwd) + "\n";
  record += "parent=" + std::to_string(ParentProcess()) + "\n";

  char mutexName[128] = {};
  if (GetEnvironmentVariableA("QZ_STANDIN_MUTEX", mutexName, sizeof mutexName)) {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, mutexName);
    record += std::string("mutex=") + (m ? "1" : "0") + "\n";
    if (m) CloseHandle(m);
  }

  char handleValue[32] = {};
  if (GetEnvironmentVariableA("QZ_STANDIN_WRITE_HANDLE", handleValue, sizeof handleValue)) {
    DWORD written = 0;
    const auto value = static_cast<std::uintptr_t>(std::strtoull(handleValue, nullptr, 10));
    WriteFile(reinterpret_cast<HANDLE>(value), "x", 1, &written, nullptr);
  }

  qz::LaunchBlock block{};
  const bool got = !section.empty() && qz::TakeOverBlock(section.c_str(), &block);
  record += std::string("block=") + (got ? "ok" : "none") + "\n";
  if (got) WriteWhole(std::string(self) + ".block", &block, sizeof block);
  WriteWhole(std::string(self) + ".record.txt", record.data(), record.size());
  return 0;
}
