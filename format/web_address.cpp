#include "format/web_address.h"

#include "format/ascii_case.h"

namespace qz {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameHost(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const char l = AsciiLower(c);
    const bool ok = (l >= 'a' && l <= 'z') || IsDigit(c) || c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  return label != 0;
}

bool IsIpv6Literal(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  for (char c : host.substr(1, host.size() - 2)) {
    const char l = AsciiLower(c);
    if (!IsDigit(c) && !(l >= 'a' && l <= 'f') && c != ':' && c != '.') return false;
  }
  return true;
}

bool IsLoopbackIpv4(std::string_view host) {
  int parts = 0;
  for (;;) {
    const std::size_t dot = host.find('.');
    const std::string_view part = host.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    unsigned value = 0;
    for (char c : part) {
      if (!IsDigit(c)) return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
  }
  return parts == 4;
}

}  // namespace

std::optional<unsigned> ParsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return port;
}

std::optional<WebAddress> ParseWebAddress(std::string_view url) {
  WebAddress address;
  std::string_view rest;
  if (StartsWithAsciiCase(url, "https://")) {
    address.https = true;
    address.port = 443;
    rest = url.substr(8);
  } else if (StartsWithAsciiCase(url, "http://")) {
    address.port = 80;
    rest = url.substr(7);
  } else {
    return std::nullopt;
  }
  for (char c : url) {
    // Blanks and control characters read differently from parser to parser.
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return std::nullopt;
  }
  if (rest.substr(0, rest.find('/')).find_first_of("@%\\") != std::string_view::npos) return std::nullopt;
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));

  std::string_view host = authority;
  std::string_view port;
  bool hasPort = false;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return std::nullopt;
      hasPort = true;
      port = after.substr(1);
    }
    if (!IsIpv6Literal(host)) return std::nullopt;
  } else {
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
      hasPort = true;
    }
    if (!IsNameHost(host)) return std::nullopt;
  }
  if (hasPort) {
    const std::optional<unsigned> number = ParsePort(port);
    if (!number) return std::nullopt;
    address.port = *number;
  }
  address.host = std::string(host);
  return address;
}

bool IsLoopbackHost(std::string_view host) {
  if (host == "[::1]") return true;
  return SameAsciiCase(host, "localhost") || IsLoopbackIpv4(host);
}

bool IsWebUrl(const char* url) {
  if (!url) return false;
  const std::string_view text(url);
  std::string_view rest;
  if (StartsWithAsciiCase(text, "http://"))
    rest = text.substr(7);
  else if (StartsWithAsciiCase(text, "https://"))
    rest = text.substr(8);
  else
    return false;
  // A host must follow the scheme.
  return !rest.empty() && rest[0] != '/';
}

bool IsFetchUrl(std::string_view url) {
  const std::optional<WebAddress> address = ParseWebAddress(url);
  return address && (address->https || IsLoopbackHost(address->host));
}

bool IsFetchRedirect(const char* requested, const char* final) {
  if (!IsFetchUrl(requested) || !IsFetchUrl(final)) return false;
  return !StartsWithAsciiCase(requested, "https://") || StartsWithAsciiCase(final, "https://");
}

std::string SignatureAddress(std::string_view url) {
  const std::size_t end = url.find_first_of("?#");
  if (end == std::string_view::npos) return std::string(url) + ".sig";
  return std::string(url.substr(0, end)) + ".sig" + std::string(url.substr(end));
}

std::optional<std::string> MirroredAddress(std::string_view url, std::string_view mirrorBase) {
  if (!ParseWebAddress(url)) return std::nullopt;
  const std::size_t scheme = url.find("://");
  const std::size_t pathAt = url.find_first_of("/?#", scheme + 3);
  std::string_view path = pathAt == std::string_view::npos ? std::string_view() : url.substr(pathAt);
  path = path.substr(0, path.find_first_of("?#"));
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  return std::string(mirrorBase) + std::string(path);
}

}  // namespace qz
