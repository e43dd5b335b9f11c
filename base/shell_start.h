// Programs that may need more rights than ours are started through the shell:
// only the shell asks the player (the rights prompt) before it starts a
// program that asks for administrator rights, or any program with the verb
// "runas". CreateProcess refuses such programs (ERROR_ELEVATION_REQUIRED).
#pragma once

#include <windows.h>

#include <string>

#include "base/win_handles.h"

// CreateProcess's answer for a program that asks for more rights than the
// caller holds (older MinGW headers lack the name).
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

namespace qz {

struct ShellStart {
  HWND owner = nullptr;        // the window the prompt belongs to; null for none
  const char* verb = nullptr;  // null: the program's own choice; "runas": always ask for administrator rights
  std::string program;         // full path
  std::string parameters;      // "" for none
  std::string directory;       // its current folder; "" for ours
};

// Starts the program and hands over its process. Returns 0 when it runs,
// ERROR_CANCELLED when the player declined the prompt, or the error that
// kept it from starting (a start that leaves no process to wait for is one).
// A machine whose administrator set the support value TestDeclineElevation
// answers ERROR_CANCELLED without starting anything.
DWORD StartThroughShell(const ShellStart& start, Handle& process);

}  // namespace qz
