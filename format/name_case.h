// Names compared the way Windows' file system compares them: each UTF-16 unit
// through one uppercase table (NTFS keeps such a table per volume; it is the
// simple, one-to-one Unicode mapping over the Basic Multilingual Plane). Two
// names that fold alike are one file, so a release that writes one of them
// must never remove the other. Pure: no locale, no Windows headers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The uppercase of one UTF-16 unit. Units without case (CJK, digits,
// surrogate halves) are themselves; so are the two letters whose Unicode
// uppercase is ASCII (dotless i, long s): Windows keeps ASCII names apart
// from them.
char16_t UpcaseUnit(char16_t unit);

// A UTF-8 name as folded UTF-16 units; nothing when the text is not UTF-8.
std::optional<std::u16string> FoldedName(std::string_view utf8);

// Whether two UTF-8 names are one file on Windows (false when either is not UTF-8).
bool SameFileName(std::string_view a, std::string_view b);

}  // namespace qz
