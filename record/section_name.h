// Names of the shared-memory sections that carry the launch record. Both
// numbers come from the tick count so two launches rarely meet; their digit
// counts are fixed so the receiver can check the name by its length alone.
#pragma once

#include <cstdint>
#include <string>

namespace qz {

enum class SectionForm {
  Launcher,  // "K" + 4 digits + "_" + 5 digits: control -> launcher, 11 characters
  Game,      // "KG" + ...: launcher -> game, 12 characters
};

struct SectionNumbers {
  std::uint32_t a;  // 1000..9999
  std::uint32_t b;  // 10000..99999
};

SectionNumbers SectionNumbersFromTicks(std::uint32_t t1, std::uint32_t t2);
std::string SectionName(SectionForm form, std::uint32_t t1, std::uint32_t t2);

// The launcher accepts only a control-made name: 11 characters starting with "K".
bool IsLauncherToken(const char* token);

// For a receiving program: its command line without the program path (quoted
// or not) and the blanks after it. The section name is the first word.
std::string ArgumentsAfterProgram(const char* commandLine);

}  // namespace qz
