// The setup modes' parameters, which the page writes into two fields of the
// launch record as "key=value&key=value": where the game's location is
// registered (AutoDownURL) and how the game is started (DataCookie).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/limits.h"
#include "record/launch_block.h"

namespace qz {

// What the page asks of a setup mode. A key the page leaves out leaves its
// value empty (or 0).
struct SetupParameters {
  std::int16_t hKeyIndex = 0;
  bool useMutex = false;
  char regPath[kPathField] = {};
  char regName[64] = {};
  char fileName[64] = {};
  char mutexName[32] = {};
  char parm[128] = {};
};

// Splits AutoDownURL and DataCookie of the block in place at every "=" and
// "&" and takes the keys in them. A key is recognised by its leading letters
// ("HKeyRoot" is HKey); the token after a key is its value; a key with no
// token after it is ignored. Values longer than their field are cut to it.
SetupParameters ParseSetupParameters(LaunchBlock& block);

// Where the game is, from the registered location value: with a file name the
// value is the game's folder, without one it is the executable's full path
// (the folder is then the text before its last backslash, or empty when there
// is none). False when the folder or the path would not fit a kPathField field.
bool GameLocationFromValue(const std::string& value, const char* fileName, std::string& dir,
                           std::string& exe);

// The page names where the game is registered and which file to start, so
// these rules keep the setup modes to games. A location they refuse is
// treated as a game that is not there; nothing of it is started.
//
// A registry path below "SOFTWARE\" of a vendor: never the system's own
// branches (Microsoft, Classes, Policies, also below WOW6432Node), never
// AppDataLow (a browser's protected mode writes there), and no empty part.
bool IsGameRegistryPath(std::string_view regPath);

// Whether the operator's GameLocations list names this location: root index
// 1 (HKCU) or 2 (HKLM) and the path, each entry written "HKLM\SOFTWARE\Vendor\Game"
// (or with HKEY_LOCAL_MACHINE / HKEY_CURRENT_USER), compared whole in any
// letter case. With keys configured only listed locations are read.
bool IsListedGameLocation(int hKeyIndex, std::string_view regPath, const std::vector<std::string>& listed);

// A program the launcher starts as a game: a program file (".exe" in any
// letter case). A batch file runs through cmd.exe, a script through its
// host and a shortcut names anything, so arguments would reach another
// program's command line.
bool IsGameProgram(std::string_view path);

// A FileName that stays inside the game's folder: relative, no "." or ".."
// part, no drive, stream or device name, no "/" and no wildcard.
bool IsGameFileName(std::string_view fileName);

// A full local path "X:\..." whose parts obey the same rules: the form the
// game's executable must have before it is looked for or started.
bool IsFullLocalPath(std::string_view path);

// True when path lies in folder or below it (ASCII letters in any case).
bool IsInsideFolder(std::string_view path, std::string_view folder);

}  // namespace qz
