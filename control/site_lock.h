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

// True when any HTML host answers for the site: its container is an HTML
// document, or it offers the container's dispatch or a web browser.
bool SiteIsPage(IUnknown* site);

// True when Run may go on for a control on this site. `mustBePage`: the host
// asked for safety from untrusted callers, or the control was once sited in
// a page. Then only the document that holds the control decides (the client
// site's container, never what the browser's top window shows): its address
// must be read and have a trusted origin; no site, a removed site or a host
// that answers nothing is refused. Otherwise a site that is no page (or none)
// is a script host the player started, and a page is judged the same way.
// When it may not, `why` says so for the support log (a page by its origin
// only: its address may carry tokens).
bool SiteMayRun(IUnknown* site, bool mustBePage, std::string& why);

}  // namespace qz::control
