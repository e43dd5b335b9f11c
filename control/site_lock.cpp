#include "control/site_lock.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <wrl/client.h>

#include "control/site_origin.h"
#include "launcher/portal.h"
#include "launcher/win_handles.h"

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

std::vector<std::string> ListedTrustedSites() {
  std::vector<std::string> sites;
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return sites;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), "TrustedSites", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0 || size > 64 * 1024) {
    return sites;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(key.get(), "TrustedSites", nullptr, &type,
                       reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return sites;
  }
  data.resize(size);  // the stored value need not end with its two zeros
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    if (end > start) sites.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return sites;
}

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
