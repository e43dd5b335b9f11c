// Starting the game: with the launch record handed over (normal flow) or with
// the page's arguments and an optional start mutex (setup modes). Both first
// make sure the system has the DirectX the game asks for.
#include <cwchar>
#include <string>

#include "launcher/dx_requirement.h"
#include "record/handover.h"
#include "launcher/launcher_app.h"
#include "launcher/setup_params.h"
#include "base/registry_text.h"
#include "base/run_log.h"
#include "base/shell_start.h"
#include "base/win_handles.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

constexpr DWORD kGameHoldMs = 10000;  // the game's time to find the record or the mutex

// An empty folder means "no folder known": the game then starts in ours.
const char* FolderOrNull(const char* dir) { return dir && dir[0] ? dir : nullptr; }

}  // namespace

int LauncherApp::DirectXRequirement() {
  const int required = SplitDirectXRequirement(block_.Spare);
  if (required <= kDirectXAlwaysPresent) return 1;

  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX", 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    return 1;  // nothing known about DirectX: let the game decide
  }
  std::string version;
  ReadRegistryText(key.get(), "Version", 20, version);
  int major = 0;
  if (!DirectXMajorVersion(version, major) || major >= required) return 1;

  wchar_t text[256];
  std::swprintf(text, sizeof text / sizeof text[0], texts::kDirectXTooOldFormat, required);
  ShowMessage(nullptr, text, texts::kNoticeCaption, MB_OK);
  return 0;
}

int LauncherApp::StartGameWithArguments(const char* exe, const char* dir, const char* args,
                                        bool withMutex, const char* nameOfMutex) {
  // A refused or unknown location leaves no program to start.
  if (!exe || exe[0] == '\0') return 0;
  if (!IsGameProgram(exe)) {
    runlog::Write("game", std::string("not a program file, not started: ") + exe);
    return 0;
  }
  if (!DirectXRequirement()) return 0;
  std::string commandLine = QuotedCommandLine(exe, args);
  if (commandLine.empty()) return 0;  // too long to pass whole

  // Created before the game and owned by us, so the game can tell it was
  // started by the launcher. One that exists already does not stop the start.
  Handle mutex;
  if (withMutex) {
    mutex.reset(CreateMutexA(nullptr, TRUE, nameOfMutex));
    if (!mutex) return 0;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The game needs none of our handles; the mutex it looks for by its name.
  if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, FolderOrNull(dir), &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    // A game that asks for administrator rights starts through the shell,
    // which asks the player.
    if (GetLastError() != ERROR_ELEVATION_REQUIRED) return 0;
    ShellStart start;
    start.program = exe;
    start.parameters = args ? args : "";
    start.directory = dir ? dir : "";
    Handle started;
    if (StartThroughShell(start, started) != 0) return 0;
  }
  HoldFor(kGameHoldMs);
  return 1;
}

int LauncherApp::StartGameWithHandOver(const char* exe, const char* dir) {
  // The record names a program file; anything else would run through
  // another program that reads its own arguments.
  if (!IsGameProgram(exe)) {
    runlog::Write("game", std::string("not a program file, not started: ") + exe);
    return 0;
  }
  if (!DirectXRequirement()) return 0;
  const bool started = HandOverBlock(block_, exe, FolderOrNull(dir), SectionForm::Game, kGameHoldMs);
  runlog::Write("game", std::string(started ? "started " : "could not start ") + exe + " with the launch record");
  return started ? 1 : 0;
}

}  // namespace qz
