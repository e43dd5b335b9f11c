// What the Windows tests need to act as a user and as the programs around the
// launcher: start processes, find their windows, read texts, press buttons,
// publish a launch record, talk to the test download server.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "launcher/exit_code.h"
#include "record/launch_block.h"

namespace qz::test {

// Folder of the running test program (where the programs under test are
// built), with a trailing backslash.
std::string BinDir();
// A new empty folder below the temporary folder.
std::string NewTempDir(const std::string& stem);

// The test download server (tools/testserver.py) started for this test: its
// https address, which the prefix trusts, and the same files elsewhere for
// the cases that must be refused; Silent accepts and never answers.
enum class ServerListener { Https, PlainHttp, OtherName, UnknownCa, Silent };
std::string ServerUrl(const std::string& path, ServerListener listener = ServerListener::Https);
std::string ServerRoot();  // its document root, trailing backslash
// The server's request log, one "GET path status" per line.
std::vector<std::string> ServerRequests();
// While it lives, WinINet sessions opened in this prefix use the server's
// plain listener as their proxy, which answers for any host: an address on
// another host then fails only if the launcher refuses it.
class ProxyThroughTestServer {
 public:
  ProxyThroughTestServer();
  ~ProxyThroughTestServer();
  ProxyThroughTestServer(const ProxyThroughTestServer&) = delete;
  ProxyThroughTestServer& operator=(const ProxyThroughTestServer&) = delete;

 private:
  HKEY key_ = nullptr;
};

bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool WaitForFile(const std::string& path, DWORD timeoutMs);
// key=value lines of a stand-in's record.
std::map<std::string, std::string> ReadRecord(const std::string& path);
// Copies a built program (e.g. "standin_game.exe") to dest; creates folders.
bool CopyProgram(const std::string& name, const std::string& dest);
bool MakeDirs(const std::string& path);
// Makes a folder with the access list `sddl` ("D:..."), set through a handle,
// the way Wine takes it too (as the folder's mode).
bool MakeFolderWithAccess(const std::string& path, const char* sddl);

class Process {
 public:
  Process() = default;
  Process(HANDLE process, DWORD pid) : handle_(process), pid_(pid) {}
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return handle_.get(); }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  // The exit code, or STILL_ACTIVE when the time ran out.
  DWORD Wait(DWORD timeoutMs) const;
  void Kill() const;

 private:
  Handle handle_;
  DWORD pid_ = 0;
};

Process StartProcess(const std::string& commandLine, const char* cwd = nullptr);

// Visible top-level windows of a process.
std::vector<HWND> WindowsOf(DWORD pid);
HWND WaitForWindow(DWORD pid, const std::function<bool(HWND)>& match, DWORD timeoutMs);
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);
bool IsMessageBox(HWND window);
std::wstring MessageText(HWND box);
// A message box of the process, waited for.
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs);
// As a click: posted, so a nested modal loop cannot block the test.
void Press(HWND dialog, int id);
std::wstring ItemText(HWND dialog, int id);
bool IsShown(HWND dialog, int id);
// Saves a PNG picture of the window as it shows on screen (brought to the
// front first); creates the folder.
bool SaveWindowPng(HWND window, const std::string& path);

// The control's side of a launch: a section holding the record and the
// launcher started with its name. The section lives as long as this object.
struct LauncherRun {
  Handle section;
  MappedView view;
  Process process;
  std::string name;
};
LauncherRun StartLauncher(const LaunchBlock& block, const std::string& exe = "");
LauncherRun StartLauncherWithToken(const std::string& token, const std::string& exe = "");

constexpr DWORD kWait = 30000;  // generous: Wine under load is slow

// The launcher's exit code as Process::Wait gives it.
constexpr DWORD Exit(ExitCode code) { return static_cast<DWORD>(code); }

}  // namespace qz::test
