#include "format/windows_names.h"

namespace qz {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string_view TrimDotsAndBlanks(std::string_view part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
  return part;
}

bool IsDeviceName(std::string_view part) {
  const std::string_view base = TrimDotsAndBlanks(part.substr(0, part.find('.')));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
    if (SameLetters(base, device)) return true;
  }
  if (base.size() != 4 || !(SameLetters(base.substr(0, 3), "COM") || SameLetters(base.substr(0, 3), "LPT"))) {
    return false;
  }
  const auto n = static_cast<unsigned char>(base[3]);
  return (n >= '0' && n <= '9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
}

bool IsClimbingPart(std::string_view part) {
  int dots = 0;
  for (char c : part) {
    if (c == '.')
      ++dots;
    else if (c != ' ')
      return false;
  }
  return dots >= 2;
}

bool IsReservedNameChar(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return true;
    default: return false;
  }
}

NameProblem CheckNamePart(std::string_view part, LeadBytePredicate isLeadByte) {
  if (part.empty()) return NameProblem::Empty;
  if (part == "." || part == "..") return NameProblem::DotPart;
  if (part.size() > kMaxNamePart) return NameProblem::TooLong;
  for (std::size_t i = 0; i < part.size(); ++i) {
    const auto c = static_cast<unsigned char>(part[i]);
    if (isLeadByte && isLeadByte(c) && i + 1 < part.size()) {
      ++i;  // the trail byte is part of the character
      continue;
    }
    if (IsReservedNameChar(c) || c == '\\' || c == '/') return NameProblem::ReservedChar;
  }
  if (part.back() == '.' || part.back() == ' ') return NameProblem::TrailingDotOrBlank;
  if (IsDeviceName(part)) return NameProblem::DeviceName;
  return NameProblem::None;
}

const char* NameProblemText(NameProblem problem) {
  switch (problem) {
    case NameProblem::None: return "a plain name";
    case NameProblem::Empty: return "an empty name";
    case NameProblem::DotPart: return "a '.' or '..' part";
    case NameProblem::ReservedChar: return "a character Windows file names can't hold";
    case NameProblem::TrailingDotOrBlank: return "Windows drops a final dot or blank";
    case NameProblem::DeviceName: return "a device name on Windows";
    case NameProblem::TooLong: return "a name longer than 255 bytes";
  }
  return "";
}

}  // namespace qz
