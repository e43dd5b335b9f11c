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

// True when Run may go on for a control on this site. A site is a page when
// its container is an HTML document, or it offers the container's dispatch or
// a web browser; a page may run only when the address of the document that
// holds the control can be read and has a trusted origin. No site, or a site
// that is none of these, is a script host the player started.
bool SiteMayRun(IUnknown* site);

}  // namespace qz::control
