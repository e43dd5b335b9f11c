#include "control/cookie_check.h"

namespace qz {
namespace {

// The text after the first occurrence of key up to the next "&"; nothing
// when there is none or it is too long (`tooLong` then set).
std::optional<std::string_view> ValueAfter(std::string_view cookie, std::string_view key, bool& tooLong) {
  const std::size_t at = cookie.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t start = at + key.size();
  const std::size_t end = cookie.find('&', start);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view value = cookie.substr(start, end - start);
  if (value.size() > kMaxCookieValue) {
    tooLong = true;
    return std::nullopt;
  }
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> PercentDecoded(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      out += raw[i];
      continue;
    }
    if (raw.size() - i < 3) return std::nullopt;  // fewer than two characters follow
    const int hi = HexDigit(raw[i + 1]);
    const int lo = HexDigit(raw[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::optional<CookieValues> ReadDocumentCookie(std::string_view cookie, bool& tooLong) {
  const auto code = ValueAfter(cookie, "M%5FCODE=", tooLong);
  const auto rawId = ValueAfter(cookie, "&ID=", tooLong);
  if (!code || !rawId) return std::nullopt;
  auto id = PercentDecoded(*rawId);
  if (!id) return std::nullopt;
  return CookieValues{std::string(*code), std::move(*id)};
}

}  // namespace

std::optional<CookieValues> ParseDocumentCookie(std::string_view cookie) {
  bool tooLong = false;
  return ReadDocumentCookie(cookie, tooLong);
}

CookieVerdict CheckDocumentCookie(std::string_view documentCookie, std::string_view dataCookie) {
  bool tooLong = false;
  const auto values = ReadDocumentCookie(documentCookie, tooLong);
  if (!values) return tooLong ? CookieVerdict::TooLong : CookieVerdict::Unreadable;
  const std::string_view data = dataCookie.substr(0, dataCookie.find('\0'));
  return data.find(values->id) != std::string_view::npos && data.find(values->code) != std::string_view::npos
             ? CookieVerdict::Passes
             : CookieVerdict::Mismatch;
}

bool CookieCheckPasses(std::string_view documentCookie, std::string_view dataCookie) {
  return CheckDocumentCookie(documentCookie, dataCookie) == CookieVerdict::Passes;
}

const char* CookieVerdictText(CookieVerdict verdict) {
  switch (verdict) {
    case CookieVerdict::Passes: return "passed";
    case CookieVerdict::Unreadable: return "the page's cookie names no readable ID and code";
    case CookieVerdict::TooLong: return "a value of the page's cookie is too long to be checked";
    case CookieVerdict::Mismatch: return "the data cookie does not hold the page's ID and code";
  }
  return "?";
}

}  // namespace qz
