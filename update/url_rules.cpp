#include "update/url_rules.h"

#include <cctype>
#include <cstring>
#include <string>

namespace qz {

namespace {
bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}

bool EqualsNoCase(const std::string& text, const char* word) {
  return text.size() == std::strlen(word) && StartsWithNoCase(text.c_str(), word);
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Four plain decimal parts, the first 127. Leading zeros are refused because
// some resolvers read them as octal ("0177.0.0.1" is 127.0.0.1 to them, and
// "0127.0.0.1" is not).
bool IsLoopbackIpv4(const std::string& host) {
  int parts = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = host.find('.', start);
    const std::string part = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!IsDigits(part) || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    const int value = std::stoi(part);
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsLoopbackAuthority(const std::string& authority) {
  std::string host = authority;
  std::string port;
  bool hasPort = false;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      hasPort = true;
      port = rest.substr(1);
    }
    if (host != "[::1]") return false;
  } else {
    const std::size_t colon = authority.find(':');
    if (colon != std::string::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
      hasPort = true;
    }
    if (!EqualsNoCase(host, "localhost") && !IsLoopbackIpv4(host)) return false;
  }
  if (hasPort && (!IsDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535)) {
    return false;
  }
  return true;
}
}  // namespace

bool IsWebUrl(const char* url) {
  if (!url) return false;
  const char* rest = nullptr;
  if (StartsWithNoCase(url, "http://")) rest = url + 7;
  else if (StartsWithNoCase(url, "https://")) rest = url + 8;
  // A host must follow the scheme.
  return rest != nullptr && *rest != '\0' && *rest != '/';
}

bool IsFetchUrl(const char* url) {
  if (!IsWebUrl(url)) return false;
  for (const char* p = url; *p; ++p) {
    // Blanks and control characters read differently from parser to parser.
    if (static_cast<unsigned char>(*p) <= ' ' || *p == 0x7f) return false;
  }
  if (StartsWithNoCase(url, "https://")) return true;
  const char* start = url + 7;
  // Everything up to the first slash counts, so "?" or "#" there is refused
  // rather than guessed at. A user name ("http://127.0.0.1@elsewhere/"), an
  // encoded character or a backslash turn what looks like this PC into another
  // host for some readers.
  const std::string authority(start, std::strcspn(start, "/"));
  if (authority.find_first_of("@%\\") != std::string::npos) return false;
  return IsLoopbackAuthority(authority);
}

bool IsFetchRedirect(const char* requested, const char* final) {
  if (!IsFetchUrl(requested) || !IsFetchUrl(final)) return false;
  return !StartsWithNoCase(requested, "https://") || StartsWithNoCase(final, "https://");
}

}  // namespace qz
