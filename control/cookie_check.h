// The document-cookie check of Run: the page's own login cookie must name the
// same user (ID) and code (M_CODE) as the data cookie the page hands on, so a
// page cannot start the launcher with another player's data.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// Longest code or ID value the check accepts, in bytes.
constexpr std::size_t kMaxCookieValue = 63;

struct CookieValues {
  std::string code;  // text after "M%5FCODE=", as it stands
  std::string id;    // text after "&ID=", percent escapes decoded
};

// Each value runs from its key to the next "&". Nothing is returned when a key
// is missing, no "&" ends a value, a value is longer than kMaxCookieValue, or a
// "%" is not followed by two hexadecimal digits: such a cookie proves nothing.
std::optional<CookieValues> ParseDocumentCookie(std::string_view cookie);

enum class CookieVerdict {
  Passes,
  Unreadable,  // a key missing, no "&" after a value, or a bad escape
  TooLong,     // a value longer than kMaxCookieValue
  Mismatch,    // the data cookie lacks the page's ID or code
};

// Passes when the data cookie field (its text up to the first zero) contains
// both values; an empty value is always contained.
CookieVerdict CheckDocumentCookie(std::string_view documentCookie, std::string_view dataCookie);
bool CookieCheckPasses(std::string_view documentCookie, std::string_view dataCookie);
// The verdict in the support log's words.
const char* CookieVerdictText(CookieVerdict verdict);

}  // namespace qz
