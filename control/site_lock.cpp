#include "control/site_lock.h"

#include <docobj.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>
#include <wrl/client.h>

#include "base/portal.h"
#include "base/settings.h"
#include "control/site_origin.h"

namespace qz::control {
namespace {

using Microsoft::WRL::ComPtr;

// Origins are plain ASCII. Any other character becomes "%", which the origin
// rules never accept in a host, so a look-alike host in other scripts cannot
// pass while the rest of the address does not matter.
std::string AsciiAddress(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += (*text > 0x20 && *text < 0x7F) ? static_cast<char>(*text) : '%';
  return out;
}

// The HTML document that holds the control: the container its client site
// names. Null when the site has none.
ComPtr<IHTMLDocument2> HoldingDocument(IUnknown* site) {
  ComPtr<IOleClientSite> clientSite;
  ComPtr<IOleContainer> container;
  ComPtr<IHTMLDocument2> document;
  if (SUCCEEDED(site->QueryInterface(IID_PPV_ARGS(&clientSite))) && clientSite &&
      SUCCEEDED(clientSite->GetContainer(&container)) && container && SUCCEEDED(container.As(&document))) {
    return document;
  }
  return nullptr;
}

}  // namespace

// Only this width's view: a site trusted for one browser width is not trusted
// for the other unless it is listed there too.
std::vector<std::string> ListedTrustedSites() {
  return settings::ReadProductList("TrustedSites", ViewPolicy::OwnView);
}

bool SiteIsPage(IUnknown* site) {
  if (!site) return false;
  if (HoldingDocument(site)) return true;
  ComPtr<IServiceProvider> services;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services))) || !services) return false;
  ComPtr<IUnknown> answer;
  // Any answer is an HTML host, even one without the interfaces we read.
  if (SUCCEEDED(services->QueryService(SID_SContainerDispatch, IID_PPV_ARGS(&answer))) && answer) return true;
  return SUCCEEDED(services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&answer))) && answer;
}

bool SiteMayRun(IUnknown* site, bool mustBePage, std::string& why) {
  if (!mustBePage && !SiteIsPage(site)) return true;  // a script host the player started
  if (!site) {
    why = "the control has no page (any more)";
    return false;
  }
  // A frame is judged by its own document: the top page may be the portal
  // while the control sits in another site's frame.
  const ComPtr<IHTMLDocument2> document = HoldingDocument(site);
  if (!document) {
    why = "its site holds no HTML document";
    return false;
  }
  BSTR address = nullptr;
  const HRESULT hr = document->get_URL(&address);
  const std::string page = AsciiAddress(address);
  SysFreeString(address);
  if (FAILED(hr) || page.empty()) {
    why = "the page's address cannot be read";
    return false;
  }
  if (IsTrustedPage(page, kPortalAddress, ListedTrustedSites())) return true;
  const std::optional<Origin> origin = ParseOrigin(page);
  why = origin ? "the page " + origin->scheme + "://" + origin->host + ":" + std::to_string(origin->port) +
                     " is neither the portal nor a trusted site"
               : std::string("the page's address has no origin the site lock accepts");
  return false;
}

}  // namespace qz::control
