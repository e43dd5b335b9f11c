// Registry values read as text through a fixed buffer, as the installation
// record and the game's location are read.
#pragma once

#include <windows.h>

#include <string>

namespace qz {

// Reads value `name` of an open key through a buffer of `bufferSize` bytes.
// False when the value is missing or does not fit the buffer with its
// terminating zero (a Version of five digits does not fit five bytes). The
// type is not tested.
bool ReadRegistryText(HKEY key, const char* name, DWORD bufferSize, std::string& text);

}  // namespace qz
