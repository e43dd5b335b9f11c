// The scriptable control a portal page creates: twelve write-only text
// properties, Init and Run. Dispatch goes through the registered type
// information, so names match in any letter case and a number put into a
// property arrives as its decimal text.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>

#include "control/tessacom1.h"
#include "record/launch_block.h"

namespace qz::control {

class Tessacontrol1 final : public ITessacontrol1,
                            public ISupportErrorInfo,
                            public IObjectSafety,
                            public IObjectWithSite {
 public:
  // Constructs an object, counts it against the module and queries it for
  // iid; a failed query destroys it again.
  static HRESULT Create(REFIID iid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // ITessacontrol1
  STDMETHODIMP get_Init(short* value) override;
  STDMETHODIMP put_RunMode(BSTR value) override { return Put(LaunchField::RunMode, value); }
  STDMETHODIMP put_ProgName(BSTR value) override { return Put(LaunchField::ProgName, value); }
  STDMETHODIMP put_AuthCookie(BSTR value) override { return Put(LaunchField::AuthCookie, value); }
  STDMETHODIMP put_DataCookie(BSTR value) override { return Put(LaunchField::DataCookie, value); }
  STDMETHODIMP put_AvatarCookie(BSTR value) override { return Put(LaunchField::AvatarCookie, value); }
  STDMETHODIMP put_ServIP(BSTR value) override { return Put(LaunchField::ServIP, value); }
  STDMETHODIMP put_ServPort(BSTR value) override { return Put(LaunchField::ServPort, value); }
  STDMETHODIMP put_FullDownURL(BSTR value) override { return Put(LaunchField::FullDownURL, value); }
  STDMETHODIMP put_AutoDownURL(BSTR value) override { return Put(LaunchField::AutoDownURL, value); }
  STDMETHODIMP put_CommonURL(BSTR value) override { return Put(LaunchField::CommonURL, value); }
  STDMETHODIMP put_Spare(BSTR value) override { return Put(LaunchField::Spare, value); }
  STDMETHODIMP put_DocCookie(BSTR value) override { return Put(kDocCookie, value); }
  STDMETHODIMP Run() override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

  // IObjectWithSite: a browser hands us the page's site; Run asks it for the
  // page's address.
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID iid, void** out) override;

 private:
  // Property slots in DISPID order: the record's fields at their places in
  // its table, then the page's cookie.
  static constexpr std::size_t kDocCookie = kLaunchFieldCount;
  static constexpr std::size_t kSlotCount = kDocCookie + 1;

  Tessacontrol1() = default;
  ~Tessacontrol1() = default;
  HRESULT Put(LaunchField field, BSTR value) { return Put(static_cast<std::size_t>(field), value); }
  HRESULT Put(std::size_t slot, BSTR value);

  DWORD safetyOptions_ = 0;
  // Kept for the control's life: a host once asked for safety from untrusted
  // callers, or a page once held the control. Either way the page decides
  // Run, and losing the site never makes the control a script host's.
  bool untrustedCallers_ = false;
  bool wasInPage_ = false;
  ULONG refs_ = 0;
  const short init_ = 1;
  // A slot keeps the text up to its first zero character; an empty slot and an
  // empty text both leave their field zero.
  std::wstring slots_[kSlotCount];
  LaunchBlock block_{};
  Microsoft::WRL::ComPtr<IUnknown> site_;
};

}  // namespace qz::control
