#include "base/shell_start.h"

#include <shellapi.h>

#include "base/settings.h"

namespace qz {

DWORD StartThroughShell(const ShellStart& start, Handle& process) {
  process.reset();
  if (settings::ReadProductNumber("TestDeclineElevation", 0) != 0) return ERROR_CANCELLED;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // Our own messages tell the player what failed; the call returns only once
  // the program was started (or the prompt was answered).
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = start.owner;
  info.lpVerb = start.verb;
  info.lpFile = start.program.c_str();
  info.lpParameters = start.parameters.empty() ? nullptr : start.parameters.c_str();
  info.lpDirectory = start.directory.empty() ? nullptr : start.directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
  }
  // Started some other way (a DDE conversation): nothing to wait for, which
  // the callers cannot take for a run.
  if (!info.hProcess) return ERROR_INVALID_HANDLE;
  process.reset(info.hProcess);
  return 0;
}

}  // namespace qz
