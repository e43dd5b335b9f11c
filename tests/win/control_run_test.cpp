// Run as a page drives it: the record the launcher receives, the cookie
// check, and the site lock that keeps untrusted pages from starting anything.
#include <gtest/gtest.h>

#include <docobj.h>
#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

#include "base/folders.h"
#include "base/private_folder.h"
#include "base/run_log.h"
#include "record/handover.h"
#include "record/section_name.h"
#include "tests/win/control_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

// A page's document: it knows its address (or fails to tell it) and can be
// a control's container; nothing else.
#define STUB(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }
class FakeDocument final : public IHTMLDocument2, public IOleContainer {
 public:
  FakeDocument(const wchar_t* address, HRESULT result = S_OK) : address_(address), result_(result) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLDocument) ||
        IsEqualIID(iid, IID_IHTMLDocument2)) {
      *out = static_cast<IHTMLDocument2*>(this);
    } else if (IsEqualIID(iid, IID_IOleContainer) || IsEqualIID(iid, IID_IParseDisplayName)) {
      *out = static_cast<IOleContainer*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  STDMETHODIMP get_URL(BSTR* url) override {
    *url = FAILED(result_) ? nullptr : SysAllocString(address_);
    return result_;
  }
  STUB(ParseDisplayName, IBindCtx*, LPOLESTR, ULONG*, IMoniker**) STUB(EnumObjects, DWORD, IEnumUnknown**)
  STUB(LockContainer, BOOL) STUB(GetTypeInfoCount, UINT*) STUB(GetTypeInfo, UINT, LCID, ITypeInfo**)
  STUB(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  STUB(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
  STUB(get_Script, IDispatch **) STUB(get_all, IHTMLElementCollection **) STUB(get_body, IHTMLElement **)
  STUB(get_activeElement, IHTMLElement **) STUB(get_images, IHTMLElementCollection **)
  STUB(get_applets, IHTMLElementCollection **) STUB(get_links, IHTMLElementCollection **)
  STUB(get_forms, IHTMLElementCollection **) STUB(get_anchors, IHTMLElementCollection **)
  STUB(put_title, BSTR) STUB(get_title, BSTR *) STUB(get_scripts, IHTMLElementCollection **)
  STUB(put_designMode, BSTR) STUB(get_designMode, BSTR *) STUB(get_selection, IHTMLSelectionObject **)
  STUB(get_readyState, BSTR *) STUB(get_frames, IHTMLFramesCollection2 **)
  STUB(get_embeds, IHTMLElementCollection **) STUB(get_plugins, IHTMLElementCollection **)
  STUB(put_alinkColor, VARIANT) STUB(get_alinkColor, VARIANT *) STUB(put_bgColor, VARIANT)
  STUB(get_bgColor, VARIANT *) STUB(put_fgColor, VARIANT) STUB(get_fgColor, VARIANT *)
  STUB(put_linkColor, VARIANT) STUB(get_linkColor, VARIANT *) STUB(put_vlinkColor, VARIANT)
  STUB(get_vlinkColor, VARIANT *) STUB(get_referrer, BSTR *) STUB(get_location, IHTMLLocation **)
  STUB(get_lastModified, BSTR *) STUB(put_URL, BSTR) STUB(put_domain, BSTR) STUB(get_domain, BSTR *)
  STUB(put_cookie, BSTR) STUB(get_cookie, BSTR *) STUB(put_expando, VARIANT_BOOL)
  STUB(get_expando, VARIANT_BOOL *) STUB(put_charset, BSTR) STUB(get_charset, BSTR *)
  STUB(put_defaultCharset, BSTR) STUB(get_defaultCharset, BSTR *) STUB(get_mimeType, BSTR *)
  STUB(get_fileSize, BSTR *) STUB(get_fileCreatedDate, BSTR *) STUB(get_fileModifiedDate, BSTR *)
  STUB(get_fileUpdatedDate, BSTR *) STUB(get_security, BSTR *) STUB(get_protocol, BSTR *)
  STUB(get_nameProp, BSTR *) STUB(write, SAFEARRAY *) STUB(writeln, SAFEARRAY *)
  STUB(open, BSTR,VARIANT,VARIANT,VARIANT,IDispatch **) STUB(close, ) STUB(clear, )
  STUB(queryCommandSupported, BSTR,VARIANT_BOOL *) STUB(queryCommandEnabled, BSTR,VARIANT_BOOL *)
  STUB(queryCommandState, BSTR,VARIANT_BOOL *) STUB(queryCommandIndeterm, BSTR,VARIANT_BOOL *)
  STUB(queryCommandText, BSTR,BSTR *) STUB(queryCommandValue, BSTR,VARIANT *)
  STUB(execCommand, BSTR,VARIANT_BOOL,VARIANT,VARIANT_BOOL *)
  STUB(execCommandShowHelp, BSTR,VARIANT_BOOL *) STUB(createElement, BSTR,IHTMLElement **)
  STUB(put_onhelp, VARIANT) STUB(get_onhelp, VARIANT *) STUB(put_onclick, VARIANT)
  STUB(get_onclick, VARIANT *) STUB(put_ondblclick, VARIANT) STUB(get_ondblclick, VARIANT *)
  STUB(put_onkeyup, VARIANT) STUB(get_onkeyup, VARIANT *) STUB(put_onkeydown, VARIANT)
  STUB(get_onkeydown, VARIANT *) STUB(put_onkeypress, VARIANT) STUB(get_onkeypress, VARIANT *)
  STUB(put_onmouseup, VARIANT) STUB(get_onmouseup, VARIANT *) STUB(put_onmousedown, VARIANT)
  STUB(get_onmousedown, VARIANT *) STUB(put_onmousemove, VARIANT) STUB(get_onmousemove, VARIANT *)
  STUB(put_onmouseout, VARIANT) STUB(get_onmouseout, VARIANT *) STUB(put_onmouseover, VARIANT)
  STUB(get_onmouseover, VARIANT *) STUB(put_onreadystatechange, VARIANT)
  STUB(get_onreadystatechange, VARIANT *) STUB(put_onafterupdate, VARIANT)
  STUB(get_onafterupdate, VARIANT *) STUB(put_onrowexit, VARIANT) STUB(get_onrowexit, VARIANT *)
  STUB(put_onrowenter, VARIANT) STUB(get_onrowenter, VARIANT *) STUB(put_ondragstart, VARIANT)
  STUB(get_ondragstart, VARIANT *) STUB(put_onselectstart, VARIANT) STUB(get_onselectstart, VARIANT *)
  STUB(elementFromPoint, LONG,LONG,IHTMLElement **) STUB(get_parentWindow, IHTMLWindow2 **)
  STUB(get_styleSheets, IHTMLStyleSheetsCollection **) STUB(put_onbeforeupdate, VARIANT)
  STUB(get_onbeforeupdate, VARIANT *) STUB(put_onerrorupdate, VARIANT) STUB(get_onerrorupdate, VARIANT *)
  STUB(toString, BSTR *)
  STUB(createStyleSheet, BSTR, LONG, IHTMLStyleSheet **)

 private:
  ULONG refs_ = 1;
  const wchar_t* address_;
  HRESULT result_;
};
#undef STUB

// A browser that knows the address it shows and, unless null, its top document.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
class FakeBrowser final : public IWebBrowser2 {
 public:
  FakeBrowser(const wchar_t* address, FakeDocument* document) : address_(address), document_(document) {}
  ~FakeBrowser() {
    if (document_) document_->Release();
  }
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
    *url = SysAllocString(address_);
    return S_OK;
  }
  STDMETHODIMP get_Document(IDispatch** document) override {
    *document = nullptr;
    return document_ ? document_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(document)) : E_FAIL;
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
  FakeDocument* document_;
};
#pragma GCC diagnostic pop

// The object a host hands the control as its site; it owns what it is given.
// container: what IOleClientSite::GetContainer gives (null: no client site);
// holder: what SID_SContainerDispatch gives; browser: SID_SWebBrowserApp.
// With none of them it is a script host's site.
class FakeSite final : public IServiceProvider, public IOleClientSite {
 public:
  FakeSite(FakeDocument* container, FakeDocument* holder, FakeBrowser* browser)
      : container_(container), holder_(holder), browser_(browser) {}
  ~FakeSite() {
    if (container_) container_->Release();
    if (holder_) holder_->Release();
    if (browser_) browser_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IServiceProvider)) {
      *out = static_cast<IServiceProvider*>(this);
    } else if (IsEqualIID(iid, IID_IOleClientSite) && container_) {
      *out = static_cast<IOleClientSite*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    *out = nullptr;
    if (holder_ && IsEqualGUID(service, SID_SContainerDispatch)) return holder_->QueryInterface(iid, out);
    if (browser_ && IsEqualGUID(service, SID_SWebBrowserApp)) return browser_->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    return container_->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
  }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP ShowObject() override { return E_NOTIMPL; }
  STDMETHODIMP OnShowWindow(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

 private:
  ULONG refs_ = 1;
  FakeDocument* container_;
  FakeDocument* holder_;
  FakeBrowser* browser_;
};

FakeSite* ContainerSite(const wchar_t* address, HRESULT result = S_OK) {
  return new FakeSite(new FakeDocument(address, result), nullptr, nullptr);
}

constexpr wchar_t kPortal[] = L"https://portal.velto.example/games/index.html";

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
  EXPECT_EQ(InstalledLauncherPath(), exe) << "one place for the control, the link and the elevated copy";
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

// The control's refusals reach the player's support log, the launcher's own
// file, without the page's cookies or queries; a work folder that is missing
// or not the player's own gets nothing and is neither made nor changed.
TEST_F(ControlRunTest, RefusalsAreLoggedOnlyInThePlayersOwnWorkFolder) {
  const std::string work = PlayerWorkFolder();
  const std::string log = work + runlog::kFileName;
  ASSERT_EQ(MakePrivateFolder(work), FolderVerdict::Private);
  DeleteFileA(log.c_str());
  PutText(control_, &ITessacontrol1::put_DataCookie, L"secret-data");
  PutText(control_, &ITessacontrol1::put_DocCookie, (L"M%5FCODE=" + std::wstring(64, L'c') + L"&ID=u&").c_str());
  EXPECT_EQ(control_->Run(), S_FALSE);
  PutText(control_, &ITessacontrol1::put_DocCookie, nullptr);
  FakeSite* site = ContainerSite(L"https://evil.test/page?token=secret-token");
  ASSERT_EQ(SetSite(control_, static_cast<IServiceProvider*>(site)), S_OK);
  site->Release();
  EXPECT_EQ(control_->Run(), S_FALSE);

  const std::string text = ReadFileBytes(log);
  EXPECT_NE(text.find("[control] Run refused by the cookie check: a value of the page's cookie is too long"),
            std::string::npos) << text;
  EXPECT_NE(text.find("[control] Run refused by the site lock: the page https://evil.test:443 is neither"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("secret"), std::string::npos) << "no cookie, no query";
  EXPECT_EQ(text.find("cccc"), std::string::npos);

  ASSERT_TRUE(DeleteFileA(log.c_str()));
  ASSERT_TRUE(RemoveDirectoryA(work.c_str()));
  EXPECT_EQ(control_->Run(), S_FALSE);
  EXPECT_FALSE(FileExists(work)) << "the control never makes the folder";

  ASSERT_TRUE(MakeFolderWithAccess(work, "D:(A;OICI;FA;;;WD)"));  // anybody may change it
  ASSERT_EQ(CheckPrivateFolder(work), FolderVerdict::OthersMayWrite);
  EXPECT_EQ(control_->Run(), S_FALSE);
  EXPECT_FALSE(FileExists(log)) << "nothing written where others may change it";
  RemoveDirectoryA(work.c_str());
}

TEST_F(ControlRunTest, UntrustedPagesStartNothing) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TrustedSites", REG_MULTI_SZ,
                            "http://other.test:8080\0https://*.example.jp\0\0", 45),
            ERROR_SUCCESS);
  const struct {
    const char* id;
    FakeSite* site;
  } cases[] = {
      {"look-alike", ContainerSite(L"https://example.jp.evil.test/")},
      {"http", ContainerSite(L"http://portal.velto.example/")},
      {"longer host", ContainerSite(L"https://portal.velto.example.evil.test/")},
      {"user information", ContainerSite(L"https://portal.velto.example@evil.test/")},
      {"Cyrillic letter", ContainerSite(L"https://portal.\u0435velto.example/")},
      {"file", ContainerSite(L"file:///C:/page.html")},
      {"a listed http origin", ContainerSite(L"http://other.test:8080/")},
      {"the document cannot tell", ContainerSite(kPortal, E_FAIL)},
      {"the document tells nothing", ContainerSite(L"")},
      {"an untrusted holder", new FakeSite(nullptr, new FakeDocument(L"https://evil.test/"), nullptr)},
      {"an untrusted frame in the portal",
       new FakeSite(new FakeDocument(L"https://evil.test/frame"), nullptr,
                    new FakeBrowser(kPortal, new FakeDocument(kPortal)))},
      {"an old page while the browser shows the portal",
       new FakeSite(nullptr, nullptr, new FakeBrowser(kPortal, new FakeDocument(L"https://evil.test/")))},
      {"a browser without a document", new FakeSite(nullptr, nullptr, new FakeBrowser(kPortal, nullptr))},
      // Only the client site's container holds the control: a holder or the
      // browser's top document may be another frame's.
      {"a listed subdomain as the holder only",
       new FakeSite(nullptr, new FakeDocument(L"https://games.example.jp/start"), nullptr)},
      {"the browser's top document only",
       new FakeSite(nullptr, nullptr, new FakeBrowser(L"", new FakeDocument(kPortal)))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_EQ(SetSite(control_, static_cast<IServiceProvider*>(c.site)), S_OK);
    c.site->Release();
    const RunOutcome run = TimedRun(control_);
    EXPECT_EQ(run.result, S_FALSE);
    EXPECT_LT(run.elapsedMs, 2000u);
  }
  Sleep(1000);
  EXPECT_FALSE(LauncherWasStarted());
}

TEST_F(ControlRunTest, TrustedPagesAndScriptHostsStartTheLauncher) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", "TrustedSites", REG_MULTI_SZ,
                            "https://*.example.jp\0\0", 22),
            ERROR_SUCCESS);
  const struct {
    const char* id;
    FakeSite* site;
  } cases[] = {
      {"the portal's document", ContainerSite(kPortal)},
      {"a listed subdomain's document", ContainerSite(L"https://games.example.jp/start")},
      {"a script host", new FakeSite(nullptr, nullptr, nullptr)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(PlaceStandInLauncher());
    // A fresh control each: one that a page held stays a page's.
    control_->Release();
    control_ = NewControl();
    ASSERT_NE(control_, nullptr);
    ASSERT_EQ(SetSite(control_, static_cast<IServiceProvider*>(c.site)), S_OK);
    c.site->Release();
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

// A fresh control per row: what a host asked and where it was sited stays
// with the control for its life.
TEST_F(ControlRunTest, SiteLockStaysClosedForPagesAndSafeHosts) {
  const struct {
    const char* id;
    bool untrustedCallers;  // the host asked for safety from untrusted callers
    FakeSite* site;         // null: never sited
    bool siteRemoved;       // SetSite(NULL) before Run, as when the element goes
    bool runs;
  } cases[] = {
      {"a safe host that never sites it", true, nullptr, false, false},
      {"a safe host whose site answers nothing", true, new FakeSite(nullptr, nullptr, nullptr), false, false},
      {"a safe host's portal page, removed", true, ContainerSite(kPortal), true, false},
      {"a portal page removed, no safety asked", false, ContainerSite(kPortal), true, false},
      {"a safe host, another site's frame in the portal", true,
       new FakeSite(new FakeDocument(L"https://evil.test/frame"), nullptr,
                    new FakeBrowser(kPortal, new FakeDocument(kPortal))),
       false, false},
      {"a safe host's portal page", true, ContainerSite(kPortal), false, true},
      {"a script host that asked nothing, no site", false, nullptr, false, true},
      {"a script host that asked nothing, a silent site", false, new FakeSite(nullptr, nullptr, nullptr), false,
       true},
  };
  for (const bool running : {false, true}) {
    for (const auto& c : cases) {
      if (c.runs != running) continue;
      SCOPED_TRACE(c.id);
      ASSERT_TRUE(PlaceStandInLauncher());
      ITessacontrol1* control = NewControl();
      ASSERT_NE(control, nullptr);
      IObjectSafety* safety = nullptr;
      ASSERT_EQ(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
      const DWORD asked = c.untrustedCallers ? INTERFACESAFE_FOR_UNTRUSTED_CALLER : 0;
      EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER, asked), S_OK);
      safety->Release();
      if (c.site) {
        EXPECT_EQ(SetSite(control, static_cast<IServiceProvider*>(c.site)), S_OK);
        c.site->Release();
      }
      if (c.siteRemoved) {
        EXPECT_EQ(SetSite(control, nullptr), S_OK);
      }
      EXPECT_EQ(control->Run(), running ? S_OK : S_FALSE);
      if (running) {
        EXPECT_TRUE(WaitForFile(LauncherPath() + ".record.txt", kWait));
      }
      control->Release();
    }
    if (!running) {
      Sleep(1000);
      EXPECT_FALSE(LauncherWasStarted());
    }
  }
}

}  // namespace
}  // namespace qz
