// Which pages may start the launcher. The control is safe for scripting, so
// without this any page could make a player's PC download and run programs:
// Run proceeds only for a page whose origin (scheme, host, port) is the
// portal's own or one the machine's owner listed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

struct Origin {
  std::string scheme;  // "http" or "https", lower case
  std::string host;    // lower case; a listed entry may start with "*."
  unsigned port = 0;   // the scheme's default when none is written

  bool operator==(const Origin& other) const {
    return scheme == other.scheme && host == other.host && port == other.port;
  }
};

// The origin of an http or https address. Anything we cannot read without
// doubt has none: user information ("@"), backslashes, percent escapes,
// bracketed or otherwise unusual hosts, a bad port. When allowWildcard is set
// the host may begin with "*." (a listed entry, not a page).
std::optional<Origin> ParseOrigin(std::string_view address, bool allowWildcard = false);

// True when the page's address has the portal's origin or matches one of the
// listed entries; an entry "https://*.example.jp" trusts every subdomain of
// example.jp over https on the default port (not example.jp itself). Only
// https entries count: an "http://" entry is ignored.
bool IsTrustedPage(std::string_view pageAddress, std::string_view portalAddress,
                   const std::vector<std::string>& listedSites);

}  // namespace qz
