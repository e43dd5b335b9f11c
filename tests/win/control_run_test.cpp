// Run as a page drives it: the record the launcher receives, the cookie
// check, and the site lock that keeps untrusted pages from starting anything.
#include <gtest/gtest.h>

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>

#include "record/handover.h"
#include "record/section_name.h"
#include "tests/win/control_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

// A browser that only knows its page's address.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
class FakeBrowser final : public IWebBrowser2 {
 public:
  FakeBrowser(const wchar_t* address, HRESULT result) : address_(address), result_(result) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IWebBrowser) ||
        IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser2)) {
      *out = static_cast<IWebBrowser2*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  STDMETHODIMP get_LocationURL(BSTR* url) override {
    *url = FAILED(result_) ? nullptr : SysAllocString(address_);
    return result_;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GoBack() override { return E_NOTIMPL; }
  STDMETHODIMP GoForward() override { return E_NOTIMPL; }
  STDMETHODIMP GoHome() override { return E_NOTIMPL; }
  STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
  STDMETHODIMP Navigate(BSTR URL, VARIANT *Flags, VARIANT *TargetFrameName, VARIANT *PostData, VARIANT *Headers) override { return E_NOTIMPL; }
  STDMETHODIMP Refresh() override { return E_NOTIMPL; }
  STDMETHODIMP Refresh2(VARIANT *Level) override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override { return E_NOTIMPL; }
  STDMETHODIMP get_Application(IDispatch **ppDisp) override { return E_NOTIMPL; }
  STDMETHODIMP get_Parent(IDispatch **ppDisp) override { return E_NOTIMPL; }
  STDMETHODIMP get_Container(IDispatch **ppDisp) override { return E_NOTIMPL; }
  STDMETHODIMP get_Document(IDispatch **ppDisp) override { return E_NOTIMPL; }
  STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL *pBool) override { return E_NOTIMPL; }
  STDMETHODIMP get_Type(BSTR *Type) override { return E_NOTIMPL; }
  STDMETHODIMP get_Left(LONG *pl) override { return E_NOTIMPL; }
  STDMETHODIMP put_Left(LONG Left) override { return E_NOTIMPL; }
  STDMETHODIMP get_Top(LONG *pl) override { return E_NOTIMPL; }
  STDMETHODIMP put_Top(LONG Top) override { return E_NOTIMPL; }
  STDMETHODIMP get_Width(LONG *pl) override { return E_NOTIMPL; }
  STDMETHODIMP put_Width(LONG Width) override { return E_NOTIMPL; }
  STDMETHODIMP get_Height(LONG *pl) override { return E_NOTIMPL; }
  STDMETHODIMP put_Height(LONG Height) override { return E_NOTIMPL; }
  STDMETHODIMP get_LocationName(BSTR *LocationName) override { return E_NOTIMPL; }
  STDMETHODIMP get_Busy(VARIANT_BOOL *pBool) override { return E_NOTIMPL; }
  STDMETHODIMP Quit() override { return E_NOTIMPL; }
  STDMETHODIMP ClientToWindow(int *pcx, int *pcy) override { return E_NOTIMPL; }
  STDMETHODIMP PutProperty(BSTR Property, VARIANT vtValue) override { return E_NOTIMPL; }
  STDMETHODIMP GetProperty(BSTR Property, VARIANT *pvtValue) override { return E_NOTIMPL; }
  STDMETHODIMP get_Name(BSTR *Name) override { return E_NOTIMPL; }
  STDMETHODIMP get_HWND(SHANDLE_PTR *pHWND) override { return E_NOTIMPL; }
  STDMETHODIMP get_FullName(BSTR *FullName) override { return E_NOTIMPL; }
  STDMETHODIMP get_Path(BSTR *Path) override { return E_NOTIMPL; }
  STDMETHODIMP get_Visible(VARIANT_BOOL *pBool) override { return E_NOTIMPL; }
  STDMETHODIMP put_Visible(VARIANT_BOOL Value) override { return E_NOTIMPL; }
  STDMETHODIMP get_StatusBar(VARIANT_BOOL *pBool) override { return E_NOTIMPL; }
  STDMETHODIMP put_StatusBar(VARIANT_BOOL Value) override { return E_NOTIMPL; }
  STDMETHODIMP get_StatusText(BSTR *StatusText) override { return E_NOTIMPL; }
  STDMETHODIMP put_StatusText(BSTR StatusText) override { return E_NOTIMPL; }
  STDMETHODIMP get_ToolBar(int *Value) override { return E_NOTIMPL; }
  STDMETHODIMP put_ToolBar(int Value) override { return E_NOTIMPL; }
  STDMETHODIMP get_MenuBar(VARIANT_BOOL *Value) override { return E_NOTIMPL; }
  STDMETHODIMP put_MenuBar(VARIANT_BOOL Value) override { return E_NOTIMPL; }
  STDMETHODIMP get_FullScreen(VARIANT_BOOL *pbFullScreen) override { return E_NOTIMPL; }
  STDMETHODIMP put_FullScreen(VARIANT_BOOL bFullScreen) override { return E_NOTIMPL; }
  STDMETHODIMP Navigate2(VARIANT *URL, VARIANT *Flags, VARIANT *TargetFrameName, VARIANT *PostData, VARIANT *Headers) override { return E_NOTIMPL; }
  STDMETHODIMP QueryStatusWB(OLECMDID cmdID, OLECMDF *pcmdf) override { return E_NOTIMPL; }
  STDMETHODIMP ExecWB(OLECMDID cmdID, OLECMDEXECOPT cmdexecopt, VARIANT *pvaIn, VARIANT *pvaOut) override { return E_NOTIMPL; }
  STDMETHODIMP ShowBrowserBar(VARIANT *pvaClsid, VARIANT *pvarShow, VARIANT *pvarSize) override { return E_NOTIMPL; }
  STDMETHODIMP get_ReadyState(READYSTATE *plReadyState) override { return E_NOTIMPL; }
  STDMETHODIMP get_Offline(VARIANT_BOOL *pbOffline) override { return E_NOTIMPL; }
  STDMETHODIMP put_Offline(VARIANT_BOOL bOffline) override { return E_NOTIMPL; }
  STDMETHODIMP get_Silent(VARIANT_BOOL *pbSilent) override { return E_NOTIMPL; }
  STDMETHODIMP put_Silent(VARIANT_BOOL bSilent) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL *pbRegister) override { return E_NOTIMPL; }
  STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL bRegister) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL *pbRegister) override { return E_NOTIMPL; }
  STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL bRegister) override { return E_NOTIMPL; }
  STDMETHODIMP get_TheaterMode(VARIANT_BOOL *pbRegister) override { return E_NOTIMPL; }
  STDMETHODIMP put_TheaterMode(VARIANT_BOOL bRegister) override { return E_NOTIMPL; }
  STDMETHODIMP get_AddressBar(VARIANT_BOOL *Value) override { return E_NOTIMPL; }
  STDMETHODIMP put_AddressBar(VARIANT_BOOL Value) override { return E_NOTIMPL; }
  STDMETHODIMP get_Resizable(VARIANT_BOOL *Value) override { return E_NOTIMPL; }
  STDMETHODIMP put_Resizable(VARIANT_BOOL Value) override { return E_NOTIMPL; }

 private:
  ULONG refs_ = 1;
  const wchar_t* address_;
  HRESULT result_;
};
#pragma GCC diagnostic pop

// The object a browser hands the control as its site.
class FakeSite final : public IServiceProvider {
 public:
  // browser null: a host that offers no web browser (a script host).
  explicit FakeSite(FakeBrowser* browser) : browser_(browser) {}
  ~FakeSite() {
    if (browser_) browser_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IServiceProvider)) {
      *out = static_cast<IServiceProvider*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    *out = nullptr;
    if (!browser_ || !IsEqualGUID(service, SID_SWebBrowserApp)) return E_NOINTERFACE;
    return browser_->QueryInterface(iid, out);
  }

 private:
  ULONG refs_ = 1;
  FakeBrowser* browser_;
};

HRESULT SetSite(ITessacontrol1* control, IUnknown* site) {
  IObjectWithSite* withSite = nullptr;
  HRESULT hr = control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
  if (FAILED(hr)) return hr;
  hr = withSite->SetSite(site);
  withSite->Release();
  return hr;
}

struct RunOutcome {
  HRESULT result;
  DWORD elapsedMs;
};

RunOutcome TimedRun(ITessacontrol1* control) {
  const DWORD start = GetTickCount();
  const HRESULT result = control->Run();
  return {result, GetTickCount() - start};
}

bool LauncherWasStarted() { return FileExists(LauncherPath() + ".record.txt"); }

class ControlRunTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void SetUp() override {
    ASSERT_TRUE(ControlModule::Get().ok());
    ASSERT_TRUE(PlaceStandInLauncher());
    control_ = NewControl();
    ASSERT_NE(control_, nullptr);
  }
  void TearDown() override {
    if (control_) control_->Release();
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TrustedSites");
  }
  ITessacontrol1* control_ = nullptr;
};

TEST_F(ControlRunTest, LauncherGetsWhatThePagePutAndTheSectionOutlivesItsStartOnly) {
  ITessacontrol1* c = control_;
  PutText(c, &ITessacontrol1::put_RunMode, L"first");
  PutText(c, &ITessacontrol1::put_ServIP, L"first");
  short init = 0;
  c->get_Init(&init);  // empties everything put so far

  PutText(c, &ITessacontrol1::put_RunMode, L"first");
  PutText(c, &ITessacontrol1::put_RunMode, L"Vltw_OnlySetup");  // the second put wins
  PutText(c, &ITessacontrol1::put_ProgName, nullptr);           // null and empty both leave zeros
  PutText(c, &ITessacontrol1::put_AvatarCookie, L"");
  PutText(c, &ITessacontrol1::put_AuthCookie, L"auth=\u3042\u3044");  // freed by the caller at once
  PutText(c, &ITessacontrol1::put_ServPort, L"123456789");          // cut to its 6 bytes
  PutText(c, &ITessacontrol1::put_DataCookie, L"M_CODE=abc;ID=Juser");
  PutText(c, &ITessacontrol1::put_DocCookie, L"X=M%5FCODE=abc&ID=%4Auser&");

  const RunOutcome run = TimedRun(control_);
  EXPECT_EQ(run.result, S_OK);
  EXPECT_GE(run.elapsedMs, 4900u) << "the section must be kept for the launcher";
  EXPECT_LT(run.elapsedMs, 9000u);

  const std::string exe = LauncherPath();
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  const std::string name = record["args"];
  EXPECT_EQ(name.size(), 11u);
  EXPECT_TRUE(IsLauncherToken(name.c_str())) << name;
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + name) << "the launcher's path is quoted";
  EXPECT_EQ(record["cwd"] + "\\Quorlynx1.exe", exe);
  EXPECT_EQ(record["block"], "ok");

  const std::string bytes = ReadFileBytes(exe + ".block");
  ASSERT_EQ(bytes.size(), sizeof(LaunchBlock));
  LaunchBlock got;
  std::memcpy(&got, bytes.data(), sizeof got);
  EXPECT_EQ(FieldText(got.RunMode), "Vltw_OnlySetup");
  EXPECT_EQ(std::string(got.ProgName, 20), std::string(20, '\0'));
  EXPECT_EQ(std::string(got.AvatarCookie, 128), std::string(128, '\0'));
  EXPECT_EQ(FieldText(got.ServIP), "");
  EXPECT_EQ(FieldText(got.AuthCookie), "auth=\x82\xa0\x82\xa2") << "converted to the ANSI code page (932)";
  EXPECT_EQ(std::string(got.ServPort, 6), "123456");
  EXPECT_EQ(FieldText(got.DataCookie), "M_CODE=abc;ID=Juser");

  LaunchBlock after;
  EXPECT_FALSE(TakeOverBlock(name.c_str(), &after)) << "the section is gone once Run returns";
}

TEST_F(ControlRunTest, FailedCookieCheckStartsNothing) {
  PutText(control_, &ITessacontrol1::put_DataCookie, L"Juser");  // lacks the code
  const struct {
    const wchar_t* id;
    const wchar_t* cookie;
  } cases[] = {
      {L"code not in the data cookie", L"X=M%5FCODE=abc&ID=%4Auser&"},
      {L"no ID key", L"X=M%5FCODE=&"},
      {L"bad escape", L"M%5FCODE=&ID=%4&"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    PutText(control_, &ITessacontrol1::put_DocCookie, c.cookie);
    const RunOutcome run = TimedRun(control_);
    EXPECT_EQ(run.result, S_FALSE);
    EXPECT_LT(run.elapsedMs, 2000u);
  }
  Sleep(1000);
  EXPECT_FALSE(LauncherWasStarted());
}

TEST_F(ControlRunTest, UntrustedPagesStartNothing) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TrustedSites", REG_MULTI_SZ,
                            "https://*.example.jp\0\0", 22),
            ERROR_SUCCESS);
  const struct {
    const wchar_t* address;
    HRESULT result;
  } cases[] = {
      {L"https://example.jp.evil.test/", S_OK},
      {L"http://portal.velto.example/", S_OK},
      {L"https://portal.velto.example.evil.test/", S_OK},
      {L"https://portal.velto.example@evil.test/", S_OK},
      {L"https://portal.\u0435velto.example/", S_OK},  // a Cyrillic look-alike letter
      {L"file:///C:/page.html", S_OK},
      {L"https://portal.velto.example/", E_FAIL},  // the browser cannot tell
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    auto* site = new FakeSite(new FakeBrowser(c.address, c.result));
    ASSERT_EQ(SetSite(control_, site), S_OK);
    site->Release();
    const RunOutcome run = TimedRun(control_);
    EXPECT_EQ(run.result, S_FALSE);
    EXPECT_LT(run.elapsedMs, 2000u);
  }
  Sleep(1000);
  EXPECT_FALSE(LauncherWasStarted());
}

TEST_F(ControlRunTest, TrustedPagesAndScriptHostsStartTheLauncher) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TrustedSites", REG_MULTI_SZ,
                            "http://other.test:8080\0https://*.example.jp\0\0", 45),
            ERROR_SUCCESS);
  const struct {
    const char* id;
    const wchar_t* address;  // null: a site without a web browser
  } cases[] = {
      {"the portal", L"https://portal.velto.example/games/index.html"},
      {"a listed subdomain", L"https://games.example.jp/start"},
      {"a script host", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(PlaceStandInLauncher());
    auto* site = new FakeSite(c.address ? new FakeBrowser(c.address, S_OK) : nullptr);
    ASSERT_EQ(SetSite(control_, site), S_OK);
    site->Release();
    EXPECT_EQ(control_->Run(), S_OK);
    EXPECT_TRUE(WaitForFile(LauncherPath() + ".record.txt", kWait));
    // Nothing was put: the launcher still starts, with an all-zero record.
    EXPECT_EQ(ReadFileBytes(LauncherPath() + ".block"), std::string(sizeof(LaunchBlock), '\0'));
  }

  IObjectWithSite* withSite = nullptr;
  ASSERT_EQ(control_->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
  IUnknown* got = nullptr;
  EXPECT_EQ(withSite->GetSite(IID_IServiceProvider, reinterpret_cast<void**>(&got)), S_OK);
  if (got) got->Release();
  EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
  got = reinterpret_cast<IUnknown*>(0x1234);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, reinterpret_cast<void**>(&got)), E_FAIL);
  EXPECT_EQ(got, nullptr);
  withSite->Release();
}

}  // namespace
}  // namespace qz
