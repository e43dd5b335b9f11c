// Command lines of the programs we start.
#pragma once

#include <cstddef>
#include <string>

namespace qz {

// Longest command line we build (the classic MAX_PATH less the terminator).
constexpr std::size_t kMaxCommandLine = 259;

// "\"exe\" args": the program path is always quoted so a folder with blanks can
// neither split the arguments nor start another program. Empty when the line
// would be longer than kMaxCommandLine.
std::string QuotedCommandLine(const std::string& exePath, const std::string& args);

}  // namespace qz
