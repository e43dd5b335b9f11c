#include "control/tessacontrol1.h"

#include <new>

#include "base/folders.h"
#include "base/run_log.h"
#include "base/win_text.h"
#include "control/control_log.h"
#include "control/cookie_check.h"
#include "control/module.h"
#include "control/site_lock.h"
#include "record/handover.h"
#include "record/launch_fill.h"

namespace qz::control {
namespace {

constexpr DWORD kSupportedSafety = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
// The launcher needs this long to take the record over after its start.
constexpr DWORD kHandOverDelayMs = 5000;

}  // namespace

HRESULT Tessacontrol1::Create(REFIID iid, void** out) {
  auto* object = new (std::nothrow) Tessacontrol1;
  if (!object) return E_OUTOFMEMORY;
  LockModule();
  object->AddRef();
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();  // destroys it when the query failed
  return hr;
}

STDMETHODIMP Tessacontrol1::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_ITessacontrol1)) {
    *out = static_cast<ITessacontrol1*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (IsEqualIID(iid, IID_IObjectSafety)) {
    *out = static_cast<IObjectSafety*>(this);
  } else if (IsEqualIID(iid, IID_IObjectWithSite)) {
    *out = static_cast<IObjectWithSite*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Tessacontrol1::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) Tessacontrol1::Release() {
  const ULONG left = --refs_;
  if (left == 0) {
    delete this;
    UnlockModule();
  }
  return left;
}

STDMETHODIMP Tessacontrol1::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Tessacontrol1::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return InterfaceTypeInfo(lcid, info);
}

STDMETHODIMP Tessacontrol1::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  const HRESULT hr = InterfaceTypeInfo(lcid, &info);
  if (FAILED(hr)) return hr;
  const HRESULT result = DispGetIDsOfNames(info, names, count, ids);
  info->Release();
  return result;
}

STDMETHODIMP Tessacontrol1::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  const HRESULT hr = InterfaceTypeInfo(lcid, &info);
  if (FAILED(hr)) return hr;
  // The type information checks and converts the arguments and calls the
  // member through this interface's table.
  const HRESULT outcome =
      info->Invoke(static_cast<ITessacontrol1*>(this), id, flags, params, result, exception, argError);
  info->Release();
  return outcome;
}

STDMETHODIMP Tessacontrol1::get_Init(short* value) {
  if (!value) return E_POINTER;
  for (std::wstring& slot : slots_) std::wstring().swap(slot);
  *value = init_;
  return S_OK;
}

HRESULT Tessacontrol1::Put(std::size_t slot, BSTR value) {
  try {
    // Up to the first zero character: what the record conversion would see.
    slots_[slot] = value ? std::wstring(value) : std::wstring();
    return S_OK;
  } catch (...) {
    LogCaught();
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP Tessacontrol1::Run() {
  try {
    LaunchTexts texts;
    for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = WideToAnsi(slots_[i].c_str());
    block_ = FillLaunchBlock(texts);

    const std::string documentCookie = WideToAnsi(slots_[kDocCookie].c_str());
    if (!documentCookie.empty()) {
      const CookieVerdict cookie = CheckDocumentCookie(documentCookie, FieldText(block_.DataCookie));
      if (cookie != CookieVerdict::Passes) {
        Log(std::string("Run refused by the cookie check: ") + CookieVerdictText(cookie));
        return S_FALSE;
      }
    }
    if (SiteIsPage(site_.Get())) wasInPage_ = true;
    std::string why;
    if (!SiteMayRun(site_.Get(), untrustedCallers_ || wasInPage_, why)) {
      Log("Run refused by the site lock: " + why);
      return S_FALSE;
    }

    const std::string launcher = InstalledLauncherPath();
    if (launcher.empty()) {
      Log("Run stopped: the Windows folder cannot be told");
      return S_FALSE;
    }
    // Of the record only these: its other fields hold cookies.
    Log("Run starts " + launcher + ": run mode \"" + FieldText(block_.RunMode) + "\", program \"" +
        FieldText(block_.ProgName) + "\"");
    // The path is quoted and an over-long command line refused by the writer.
    SetLastError(ERROR_SUCCESS);
    if (!HandOverBlock(block_, launcher, InstalledLauncherFolder().c_str(), SectionForm::Launcher,
                       kHandOverDelayMs)) {
      const DWORD error = GetLastError();
      Log("Run stopped: the launcher was not started" +
          (error ? ": " + runlog::ErrorText(error) : std::string()));
      return S_FALSE;
    }
    return S_OK;
  } catch (...) {
    LogCaught();
    return S_FALSE;
  }
}

STDMETHODIMP Tessacontrol1::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_ITessacontrol1) ? S_OK : S_FALSE;
}

STDMETHODIMP Tessacontrol1::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  IUnknown* probe = nullptr;
  const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) {
    *supported = 0;
    *enabled = 0;
    return hr;
  }
  probe->Release();
  *supported = kSupportedSafety;
  *enabled = safetyOptions_;
  return S_OK;
}

STDMETHODIMP Tessacontrol1::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  IUnknown* probe = nullptr;
  const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) return hr;
  probe->Release();
  if (mask & ~kSupportedSafety) return E_FAIL;
  safetyOptions_ = (safetyOptions_ & ~mask) | (enabled & mask);
  if (safetyOptions_ & INTERFACESAFE_FOR_UNTRUSTED_CALLER) untrustedCallers_ = true;
  return S_OK;
}

STDMETHODIMP Tessacontrol1::SetSite(IUnknown* site) {
  // Asked now: the page may remove the control (and its site) before Run.
  if (SiteIsPage(site)) wasInPage_ = true;
  site_ = site;
  return S_OK;
}

STDMETHODIMP Tessacontrol1::GetSite(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!site_) return E_FAIL;
  return site_->QueryInterface(iid, out);
}

}  // namespace qz::control
