// What Windows makes of a file name, for every side that names files on a
// player's PC: the zip reader before it unpacks, the setup modes before they
// look for a game, and the release tool before it packs a name. A name that
// Windows would open as a device, read as another name, or not hold at all is
// refused before anything is written, never cut or repaired.
#pragma once

#include <cstddef>
#include <string_view>

namespace qz {

// Lengths in bytes of the ANSI code page, terminating zero excluded: one name
// (a folder or a file), a whole path, and the folder a file is created in
// (CreateDirectory leaves room for an 8.3 name: MAX_PATH minus 12).
constexpr std::size_t kMaxNamePart = 255;
constexpr std::size_t kMaxPathLength = 259;
constexpr std::size_t kMaxFolderPathLength = 247;

// Tells whether a byte starts a double-byte character of the code page in
// use; without one every byte is a character of its own.
using LeadBytePredicate = bool (*)(unsigned char);

// A name Windows opens as a device in any folder, whatever the case, with
// any extension and with dots or blanks before it: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, CLOCK$, COM0-COM9 and LPT0-LPT9 (and the superscript digits
// one to three of code page 1252): "nul.txt", "Com1 .log", "CONIN$".
bool IsDeviceName(std::string_view part);

// Only dots and blanks, at least two dots: Windows drops the trailing dots
// and blanks and climbs to the parent ("..", "...", ".. ").
bool IsClimbingPart(std::string_view part);

// The part as Windows opens it: trailing dots and blanks dropped.
std::string_view TrimDotsAndBlanks(std::string_view part);

// Characters no Windows file name holds: control characters and : * ? " < > |
// (separators are not parts' characters at all).
bool IsReservedNameChar(unsigned char c);

enum class NameProblem {
  None,
  Empty,               // "" between separators
  DotPart,             // "." or ".."
  ReservedChar,        // see IsReservedNameChar, or a separator inside the part
  TrailingDotOrBlank,  // Windows would open another name
  DeviceName,
  TooLong,  // over kMaxNamePart bytes
};

// One part of a path that must name exactly itself: what a release holds and
// what a setup mode may look for. With a lead-byte predicate the reserved
// characters are looked for as characters (a trail byte may be 0x7C, "|");
// without one, as bytes.
NameProblem CheckNamePart(std::string_view part, LeadBytePredicate isLeadByte = nullptr);

// A short English reason for the release tool's messages.
const char* NameProblemText(NameProblem problem);

}  // namespace qz
