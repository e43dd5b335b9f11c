#include "control/site_lock.h"

#include <exdisp.h>
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

}  // namespace

std::vector<std::string> ListedTrustedSites() { return settings::ReadProductList("TrustedSites", ViewPolicy::OwnView); }

bool SiteMayRun(IUnknown* site) {
  if (!site) return true;
  ComPtr<IServiceProvider> services;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services))) || !services) return true;
  ComPtr<IWebBrowser2> browser;
  if (FAILED(services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&browser))) || !browser) {
    return true;
  }
  BSTR address = nullptr;
  const HRESULT hr = browser->get_LocationURL(&address);
  const std::string page = AsciiAddress(address);
  SysFreeString(address);
  if (FAILED(hr)) return false;
  return IsTrustedPage(page, kPortalAddress, ListedTrustedSites());
}

}  // namespace qz::control
