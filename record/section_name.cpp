#include "record/section_name.h"

#include <cstdio>
#include <cstring>

namespace qz {

SectionNumbers SectionNumbersFromTicks(std::uint32_t t1, std::uint32_t t2) {
  std::uint32_t a = ((t1 * 32767u) >> 4) % 10000u;
  if (a < 1000u) a += 1000u;
  std::uint32_t b = (t2 * 524272u) % 100000u;
  if (b < 10000u) b += 10000u;
  return {a, b};
}

std::string SectionName(SectionForm form, std::uint32_t t1, std::uint32_t t2) {
  const SectionNumbers n = SectionNumbersFromTicks(t1, t2);
  char text[32];
  std::snprintf(text, sizeof text, form == SectionForm::Game ? "KG%u_%u" : "K%u_%u",
                static_cast<unsigned>(n.a), static_cast<unsigned>(n.b));
  return text;
}

bool IsLauncherToken(const char* token) {
  return token != nullptr && std::strlen(token) == 11 && token[0] == 'K';
}

std::string ArgumentsAfterProgram(const char* commandLine) {
  const char* p = commandLine ? commandLine : "";
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace qz
