// Stand-in for a downloaded full setup program. What it installs comes from
// the environment the launcher passes on:
//   QZ_SETUP_PROG     program name of the installation record to write
//   QZ_SETUP_VERSION  Version to record (none: no record is written)
//   QZ_SETUP_DIR      game folder (RunDir); the game is installed there
//   QZ_SETUP_GAME     program to copy in as the game (RunFileName = DIR\game.exe)
//   QZ_SETUP_WAIT_MS  how long it runs
//   QZ_SETUP_LOG      file that records its command line, current folder, own
//                     path and what else lies in its own folder
// Like nearly every setup program, its manifest asks for administrator rights.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? value : "";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string log = Env("QZ_SETUP_LOG");
  if (!log.empty()) {
    char self[MAX_PATH] = {}, cwd[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string path = self;
    const std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    std::string others;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name != "." && name != ".." && folder + name != path) others += name + ";";
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    if (FILE* f = std::fopen(log.c_str(), "ab")) {
      std::fprintf(f, "cmdline=%s\nself=%s\ncwd=%s\nbeside=%s\n", GetCommandLineA(), self, cwd, others.c_str());
      std::fclose(f);
    }
  }
  const std::string wait = Env("QZ_SETUP_WAIT_MS");
  if (!wait.empty()) Sleep(std::atoi(wait.c_str()));

  std::string dir = Env("QZ_SETUP_DIR");
  const std::string game = Env("QZ_SETUP_GAME");
  std::string exe;
  if (!dir.empty()) {
    CreateDirectoryA(dir.c_str(), nullptr);
    if (dir.back() != '\\') dir += '\\';
    exe = dir + "game.exe";
    if (!game.empty()) CopyFileA(game.c_str(), exe.c_str(), FALSE);
  }
  const std::string prog = Env("QZ_SETUP_PROG");
  const std::string version = Env("QZ_SETUP_VERSION");
  if (!prog.empty() && !version.empty()) {
    HKEY key;
    const std::string path = "SOFTWARE\\Veltoworks\\" + prog;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) == ERROR_SUCCESS) {
      auto set = [&](const char* name, const std::string& value) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
      };
      set("Version", version);
      if (!dir.empty()) {
        set("RunDir", dir);
        set("RunFileName", exe);
      }
      RegCloseKey(key);
    }
  }
  return 0;
}
