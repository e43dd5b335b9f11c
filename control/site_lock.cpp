#include "control/site_lock.h"

#include <docobj.h>
#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>
#include <wrl/client.h>

#include "control/site_origin.h"
#include "base/portal.h"
#include "base/settings.h"

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

struct HostedDocument {
  bool isPage = false;                  // some HTML host answered
  ComPtr<IHTMLDocument2> document;      // the one that holds the control, when known
};

// A site is a page when any HTML host answers for it: the container is a
// document, or the site offers the container's dispatch or a web browser.
// The document asked first is the nearest one: a frame's own document, not
// the top page the browser shows.
HostedDocument FindHostingDocument(IUnknown* site) {
  HostedDocument found;
  ComPtr<IOleClientSite> clientSite;
  ComPtr<IOleContainer> container;
  if (SUCCEEDED(site->QueryInterface(IID_PPV_ARGS(&clientSite))) && clientSite &&
      SUCCEEDED(clientSite->GetContainer(&container)) && container &&
      SUCCEEDED(container.As(&found.document)) && found.document) {
    found.isPage = true;
    return found;
  }
  found.document.Reset();
  ComPtr<IServiceProvider> services;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services))) || !services) return found;

  // A holder that is not a document leaves the page without an address.
  ComPtr<IDispatch> holder;
  if (SUCCEEDED(services->QueryService(SID_SContainerDispatch, IID_PPV_ARGS(&holder))) && holder) {
    found.isPage = true;
    if (FAILED(holder.As(&found.document))) found.document.Reset();
    return found;
  }
  // Any answer is a browser, even one without the interface we read.
  ComPtr<IUnknown> anyBrowser;
  if (FAILED(services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&anyBrowser))) || !anyBrowser) {
    return found;
  }
  found.isPage = true;
  ComPtr<IWebBrowser2> browser;
  ComPtr<IDispatch> top;
  if (FAILED(anyBrowser.As(&browser)) || FAILED(browser->get_Document(&top)) || !top ||
      FAILED(top.As(&found.document))) {
    found.document.Reset();
  }
  return found;
}

}  // namespace

// Only this width's view: a site trusted for one browser width is not trusted
// for the other unless it is listed there too.
std::vector<std::string> ListedTrustedSites() {
  return settings::ReadProductList("TrustedSites", ViewPolicy::OwnView);
}

bool SiteMayRun(IUnknown* site) {
  if (!site) return true;
  const HostedDocument hosted = FindHostingDocument(site);
  if (!hosted.isPage) return true;  // a script host the player started
  if (!hosted.document) return false;
  BSTR address = nullptr;
  const HRESULT hr = hosted.document->get_URL(&address);
  const std::string page = AsciiAddress(address);
  SysFreeString(address);
  if (FAILED(hr) || page.empty()) return false;
  return IsTrustedPage(page, kPortalAddress, ListedTrustedSites());
}

}  // namespace qz::control
