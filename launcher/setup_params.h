// The setup modes' parameters, which the page writes into two fields of the
// launch record as "key=value&key=value": where the game's location is
// registered (AutoDownURL) and how the game is started (DataCookie).
#pragma once

#include <cstdint>
#include <string>

#include "record/launch_block.h"

namespace qz {

// The LauncherApp members the parameters fill. A key the page leaves out
// leaves its member as it was.
struct SetupParameterFields {
  std::int16_t& hKeyIndex;
  bool& useMutex;
  char (&regPath)[260];
  char (&regName)[64];
  char (&fileName)[64];
  char (&mutexName)[32];
  char (&parm)[128];
};

// Splits AutoDownURL and DataCookie of the block in place at every "=" and
// "&" and takes the keys in them. A key is recognised by its leading letters
// ("HKeyRoot" is HKey); the token after a key is its value; a key with no
// token after it is ignored. Values longer than their member are cut to it.
void ParseSetupParameters(LaunchBlock& block, const SetupParameterFields& out);

// Where the game is, from the registered location value: with a file name the
// value is the game's folder, without one it is the executable's full path
// (the folder is then the text before its last backslash, or empty when there
// is none). False when the folder or the path would not fit a 260-byte field.
bool GameLocationFromValue(const std::string& value, const char* fileName, std::string& dir,
                           std::string& exe);

}  // namespace qz
