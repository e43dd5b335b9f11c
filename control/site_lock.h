// The site lock: which hosting pages may make Run start the launcher.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

namespace qz::control {

// Origins the machine's owner trusts besides the portal: the REG_MULTI_SZ value
// "TrustedSites" of the product's settings; empty when there is none.
std::vector<std::string> ListedTrustedSites();

// True when Run may go on for a control on this site. No site, or a site that
// leads to no web browser, is a script host the player started; a page in a
// browser must come from a trusted origin, and a browser that cannot tell its
// page's address is refused.
bool SiteMayRun(IUnknown* site);

}  // namespace qz::control
