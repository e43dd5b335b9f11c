// Folder rules of start-up, kept free of the system calls that feed them.
#pragma once

#include <string>

namespace qz {

// "dir" -> "dir\"; an empty text stays empty.
std::string WithTrailingBackslash(const std::string& dir);

// The work folder below the temporary folder: "<temp>\~qztmp\"; "c:\~qztmp\"
// when the temporary folder is unknown (empty).
std::string WorkDirBelow(const std::string& tempDir);

// Copies text into a fixed field, cut to the field and always terminated.
void CopyCut(char* field, std::size_t width, const std::string& text);
template <std::size_t N>
void CopyCut(char (&field)[N], const std::string& text) { CopyCut(field, N, text); }

}  // namespace qz
