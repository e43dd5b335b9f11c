#include "control/site_origin.h"

namespace qz {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

// Dot-separated labels of letters, digits and hyphens, none empty.
bool IsPlainHost(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok || ++label > 63) return false;
  }
  return label != 0;
}

std::optional<unsigned> ParsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return port;
}

bool Matches(const Origin& page, const Origin& entry) {
  if (page.scheme != entry.scheme || page.port != entry.port) return false;
  if (entry.host.compare(0, 2, "*.") != 0) return page.host == entry.host;
  const std::string_view domain = std::string_view(entry.host).substr(1);  // ".example.jp"
  return page.host.size() > domain.size() &&
         page.host.compare(page.host.size() - domain.size(), domain.size(), domain) == 0;
}

}  // namespace

std::optional<Origin> ParseOrigin(std::string_view address, bool allowWildcard) {
  const std::size_t colon = address.find("://");
  if (colon == std::string_view::npos) return std::nullopt;
  Origin origin;
  origin.scheme = Lowered(address.substr(0, colon));
  if (origin.scheme == "https") {
    origin.port = 443;
  } else if (origin.scheme == "http") {
    origin.port = 80;
  } else {
    return std::nullopt;
  }

  const std::string_view rest = address.substr(colon + 3);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  // "user@host" and "host\..." are read differently by different parsers;
  // a portal address never has them.
  if (authority.find_first_of("@\\%") != std::string_view::npos) return std::nullopt;

  std::string_view host = authority;
  const std::size_t portAt = authority.rfind(':');
  if (portAt != std::string_view::npos) {
    host = authority.substr(0, portAt);
    const std::string_view digits = authority.substr(portAt + 1);
    if (!digits.empty()) {
      const auto port = ParsePort(digits);
      if (!port) return std::nullopt;
      origin.port = *port;
    }
  }
  origin.host = Lowered(host);
  std::string_view plain = origin.host;
  if (allowWildcard && plain.compare(0, 2, "*.") == 0) plain.remove_prefix(2);
  if (!IsPlainHost(plain)) return std::nullopt;
  return origin;
}

bool IsTrustedPage(std::string_view pageAddress, std::string_view portalAddress,
                   const std::vector<std::string>& listedSites) {
  const auto page = ParseOrigin(pageAddress);
  if (!page) return false;
  if (const auto portal = ParseOrigin(portalAddress); portal && *portal == *page) return true;
  for (const std::string& site : listedSites) {
    // A page served over http can be rewritten on its way to the player.
    const auto entry = ParseOrigin(site, true);
    if (entry && entry->scheme == "https" && Matches(*page, *entry)) return true;
  }
  return false;
}

}  // namespace qz
