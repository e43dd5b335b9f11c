// Starting the game: with the launch record handed over (normal flow) or with
// the page's arguments and an optional start mutex (setup modes). Both first
// make sure the system has the DirectX the game asks for.
#include <cwchar>
#include <string>

#include "base/registry_text.h"
#include "base/run_log.h"
#include "base/shell_start.h"
#include "base/win_handles.h"
#include "launcher/dx_requirement.h"
#include "launcher/launcher_app.h"
#include "launcher/setup_params.h"
#include "record/handover.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

constexpr DWORD kGameHoldMs = 10000;  // the game's time to find the record or the mutex

// An empty folder means "no folder known": the game then starts in ours.
const char* FolderOrNull(const std::string& dir) { return dir.empty() ? nullptr : dir.c_str(); }

}  // namespace

bool LauncherApp::DirectXSufficient() {
  const int required = SplitDirectXRequirement(block_.Spare);
  if (required <= kDirectXAlwaysPresent) return true;

  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX", 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    return true;  // nothing known about DirectX: let the game decide
  }
  std::string version;
  ReadRegistryText(key.get(), "Version", 20, version);
  int major = 0;
  if (!DirectXMajorVersion(version, major) || major >= required) return true;

  wchar_t text[256];
  std::swprintf(text, sizeof text / sizeof text[0], texts::kDirectXTooOldFormat, required);
  ShowMessage(nullptr, text, texts::kNoticeCaption, MB_OK);
  return false;
}

bool LauncherApp::StartGameWithArguments(const std::string& exe, const std::string& dir, const char* args,
                                         bool withMutex, const char* nameOfMutex) {
  // A refused or unknown location leaves no program to start.
  if (exe.empty()) return false;
  if (!IsGameProgram(exe)) {
    runlog::Write("game", "not a program file, not started: " + exe);
    return false;
  }
  if (!DirectXSufficient()) return false;
  std::string commandLine = QuotedCommandLine(exe, args);
  if (commandLine.empty()) return false;  // too long to pass whole

  // Created before the game and owned by us, so the game can tell it was
  // started by the launcher. One that exists already does not stop the start.
  Handle mutex;
  if (withMutex) {
    mutex.reset(CreateMutexA(nullptr, TRUE, nameOfMutex));
    if (!mutex) return false;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The game needs none of our handles; the mutex it looks for by its name.
  if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, FolderOrNull(dir),
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    // A game that asks for administrator rights starts through the shell,
    // which asks the player.
    if (GetLastError() != ERROR_ELEVATION_REQUIRED) return false;
    ShellStart start;
    start.program = exe;
    start.parameters = args ? args : "";
    start.directory = dir;
    Handle started;
    if (StartThroughShell(start, started) != 0) return false;
  }
  HoldFor(kGameHoldMs);
  return true;
}

bool LauncherApp::StartGameWithHandOver(const std::string& exe, const std::string& dir) {
  // The record names a program file; anything else would run through
  // another program that reads its own arguments.
  if (!IsGameProgram(exe)) {
    runlog::Write("game", "not a program file, not started: " + exe);
    return false;
  }
  if (!DirectXSufficient()) return false;
  const bool started = HandOverBlock(block_, exe, FolderOrNull(dir), SectionForm::Game, kGameHoldMs);
  runlog::Write("game",
                std::string(started ? "started " : "could not start ") + exe + " with the launch record");
  return started;
}

}  // namespace qz
