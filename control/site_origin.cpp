#include "control/site_origin.h"

#include "format/ascii_case.h"
#include "format/web_address.h"

namespace qz {
namespace {

bool Matches(const Origin& page, const Origin& entry) {
  if (page.scheme != entry.scheme || page.port != entry.port) return false;
  if (entry.host.compare(0, 2, "*.") != 0) return page.host == entry.host;
  const std::string_view domain = std::string_view(entry.host).substr(1);  // ".example.jp"
  return page.host.size() > domain.size() &&
         page.host.compare(page.host.size() - domain.size(), domain.size(), domain) == 0;
}

}  // namespace

std::optional<Origin> ParseOrigin(std::string_view address, bool allowWildcard) {
  std::string text(address);
  bool wildcard = false;
  const std::size_t scheme = text.find("://");
  if (allowWildcard && scheme != std::string::npos && text.compare(scheme + 3, 2, "*.") == 0) {
    text.erase(scheme + 3, 2);
    wildcard = true;
  }
  // The launcher's own reading of an address: user information, escapes,
  // backslashes and bad ports never name a trusted page.
  const std::optional<WebAddress> web = ParseWebAddress(text);
  if (!web) return std::nullopt;
  Origin origin;
  origin.scheme = web->https ? "https" : "http";
  origin.port = web->port;
  origin.host = AsciiLowered(web->host);
  // A page's host is a plain name: no address literal, no underscore.
  if (origin.host.find_first_of("[_") != std::string::npos) return std::nullopt;
  if (wildcard) origin.host = "*." + origin.host;
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
