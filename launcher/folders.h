// Folder rules of start-up, kept free of the system calls that feed them.
#pragma once

#include <string>

namespace qz {

// "dir" -> "dir\"; an empty text stays empty.
std::string WithTrailingBackslash(const std::string& dir);

// The work folder below the temporary folder: "<temp>\~qztmp\"; "" when the
// temporary folder is unknown (empty): there is no other place for it.
std::string WorkDirBelow(const std::string& tempDir);

}  // namespace qz
