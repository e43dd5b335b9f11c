// Self-registration of the control and dispatch through the registered type
// library, as regsvr32, a browser and a script engine use them.
#include <gtest/gtest.h>

#include <set>

#include "tests/win/control_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(ControlModule::Get().module, path, MAX_PATH);
  wchar_t longPath[MAX_PATH] = {};
  return GetLongPathNameW(path, longPath, MAX_PATH) ? longPath : path;
}

bool KeyExists(const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// Every key and value below HKCR\key as "path" and "path|name=data" lines.
void Collect(const std::wstring& key, std::set<std::wstring>* out) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
  out->insert(key);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    BYTE data[2048];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(opened, i, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::wstring line = key + L"|" + (nameLength ? name : L"@") + L"=";
    line += type == REG_SZ ? std::wstring(reinterpret_cast<wchar_t*>(data)) : L"<type " + std::to_wstring(type) + L">";
    out->insert(line);
  }
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(opened, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.push_back(name);
  }
  RegCloseKey(opened);
  for (const std::wstring& sub : subkeys) Collect(key + L"\\" + sub, out);
}

std::set<std::wstring> ClassEntries() {
  std::set<std::wstring> entries;
  for (const std::wstring& root : {std::wstring(L"Tessacom1.Tessacontrol1.1"), std::wstring(L"Tessacom1.Tessacontrol1"),
                                   L"CLSID\\" + GuidText(CLSID_Tessacontrol1)}) {
    Collect(root, &entries);
  }
  return entries;
}

std::set<std::wstring> ExpectedClassEntries() {
  const std::wstring id = GuidText(CLSID_Tessacontrol1);
  const std::wstring key = L"CLSID\\" + id;
  return {
      L"Tessacom1.Tessacontrol1.1",
      L"Tessacom1.Tessacontrol1.1|@=Tessacontrol1 Class",
      L"Tessacom1.Tessacontrol1.1\\CLSID",
      L"Tessacom1.Tessacontrol1.1\\CLSID|@=" + id,
      L"Tessacom1.Tessacontrol1",
      L"Tessacom1.Tessacontrol1|@=Tessacontrol1 Class",
      L"Tessacom1.Tessacontrol1\\CLSID",
      L"Tessacom1.Tessacontrol1\\CLSID|@=" + id,
      key,
      key + L"|@=Tessacontrol1 Class",
      key + L"\\ProgID",
      key + L"\\ProgID|@=Tessacom1.Tessacontrol1.1",
      key + L"\\VersionIndependentProgID",
      key + L"\\VersionIndependentProgID|@=Tessacom1.Tessacontrol1",
      key + L"\\InprocServer32",
      key + L"\\InprocServer32|@=" + ModulePath(),
      key + L"\\InprocServer32|ThreadingModel=both",
  };
}

std::string Narrow(const std::set<std::wstring>& lines) {
  std::string out;
  for (const std::wstring& line : lines) out += std::string(line.begin(), line.end()) + "\n";
  return out;
}

// HKEY_CLASSES_ROOT redirected to a scratch key that holds a CLSID folder with
// someone else's class, so each test starts from a known, private hive.
class ControlRegistrationTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void SetUp() override {
    ASSERT_TRUE(ControlModule::Get().ok());
    static int counter = 0;
    scratchName_ = L"Software\\QzControlTest\\" + std::to_wstring(++counter);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratchName_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &scratch_, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(scratch_, L"CLSID\\{0A1B2C3D-1111-2222-3333-444455556666}", nullptr, REG_SZ,
                              L"other", 12),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (scratch_) RegCloseKey(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
  }
  static const ControlModule& Module() { return ControlModule::Get(); }
  static void ExpectOtherClassKept() {
    EXPECT_TRUE(KeyExists(L"CLSID\\{0A1B2C3D-1111-2222-3333-444455556666}"));
  }

  std::wstring scratchName_;
  HKEY scratch_ = nullptr;
};

TEST_F(ControlRegistrationTest, RegisteringTwiceLeavesExactlyTheTable) {
  ASSERT_EQ(Module().Register(), S_OK);
  EXPECT_EQ(Narrow(ClassEntries()), Narrow(ExpectedClassEntries()));

  // Left over from an older version, or planted: it must not survive.
  const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Tessacontrol1);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, (classKey + L"\\Stray\\Deeper").c_str(), L"x", REG_SZ, L"y", 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str(), nullptr, REG_SZ,
                            L"C:\\elsewhere.dll", 34),
            ERROR_SUCCESS);
  ASSERT_EQ(Module().Register(), S_OK);
  EXPECT_EQ(Narrow(ClassEntries()), Narrow(ExpectedClassEntries()));
  ExpectOtherClassKept();

  // The type library is registered from the module itself.
  const std::wstring library = L"TypeLib\\" + GuidText(LIBID_TESSACOM1Lib) + L"\\1.0";
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof path;
  // Under the platform the module was built for: a 32-bit module's library is a win32 one.
#ifdef _WIN64
  const wchar_t platform[] = L"\\409\\win64";
#else
  const wchar_t platform[] = L"\\409\\win32";
#endif
  EXPECT_EQ(RegQueryValueW(HKEY_CLASSES_ROOT, (library + platform).c_str(), path, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(path), ModulePath());
  EXPECT_TRUE(KeyExists(L"Interface\\" + GuidText(IID_ITessacontrol1)));
}

// The launcher's elevation policy: written in the registry view of the
// module's own width (the browser's, which reads no other), and only there.
// The x86 tree runs this in a 32-bit process of a 64-bit prefix.
TEST_F(ControlRegistrationTest, ElevationPolicyNamesTheLauncherInTheModulesOwnView) {
  const std::wstring policies = L"SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\";
  const std::wstring ours = policies + L"{A6D83DD5-11A9-4C9A-B54F-CDD8CC4C8B89}";
  const std::wstring someoneElses = policies + L"{0A1B2C3D-1111-2222-3333-444455556666}";
  const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  // "AppName=..|AppPath=..|Policy=.." as the browser of that view reads it; "" when there is none.
  auto entry = [&](REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ours.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return std::wstring();
    wchar_t name[MAX_PATH] = {}, path[MAX_PATH] = {};
    DWORD nameSize = sizeof name, pathSize = sizeof path, policy = 0, policySize = sizeof policy;
    RegGetValueW(key, nullptr, L"AppName", RRF_RT_REG_SZ, nullptr, name, &nameSize);
    RegGetValueW(key, nullptr, L"AppPath", RRF_RT_REG_SZ, nullptr, path, &pathSize);
    RegGetValueW(key, nullptr, L"Policy", RRF_RT_REG_DWORD, nullptr, &policy, &policySize);
    RegCloseKey(key);
    return std::wstring(L"AppName=") + name + L"|AppPath=" + path + L"|Policy=" + std::to_wstring(policy);
  };
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, someoneElses.c_str(), L"AppName", REG_SZ, L"other.exe", 20),
            ERROR_SUCCESS);
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);  // where the package installs the launcher

  ASSERT_EQ(Module().Register(), S_OK);
  EXPECT_EQ(entry(0), std::wstring(L"AppName=Quorlynx1.exe|AppPath=") + windows + L"|Policy=3");
  EXPECT_EQ(entry(other), L"") << "a browser of the other width has a control of its own";
  ASSERT_EQ(Module().Register(), S_OK) << "registering again";
  EXPECT_EQ(entry(0), std::wstring(L"AppName=Quorlynx1.exe|AppPath=") + windows + L"|Policy=3");

  EXPECT_EQ(Module().Unregister(), S_OK);
  EXPECT_EQ(entry(0), L"");
  HKEY kept = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, someoneElses.c_str(), 0, KEY_READ, &kept), ERROR_SUCCESS);
  if (kept) RegCloseKey(kept);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, someoneElses.c_str());
}

TEST_F(ControlRegistrationTest, UnregisteringRemovesOurKeysOnly) {
  ASSERT_EQ(Module().Register(), S_OK);
  EXPECT_EQ(Module().Unregister(), S_OK);
  EXPECT_TRUE(ClassEntries().empty()) << Narrow(ClassEntries());
  EXPECT_TRUE(KeyExists(L"CLSID"));
  ExpectOtherClassKept();
  EXPECT_FALSE(KeyExists(L"TypeLib\\" + GuidText(LIBID_TESSACOM1Lib) + L"\\1.0"));
  EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(IID_ITessacontrol1)));
}

TEST_F(ControlRegistrationTest, UnregisteringANeverRegisteredModuleSucceeds) {
  EXPECT_EQ(Module().Unregister(), S_OK);
  EXPECT_EQ(Module().Unregister(), S_OK);
  EXPECT_TRUE(KeyExists(L"CLSID"));
  ExpectOtherClassKept();
}

// Installed by the client package no type library is registered: the control
// answers its callers from the library inside itself.
TEST_F(ControlRegistrationTest, DispatchAnswersFromItsOwnLibraryWhenNoneIsRegistered) {
  ITessacontrol1* control = NewControl();
  ASSERT_NE(control, nullptr);
  LPOLESTR name = const_cast<LPOLESTR>(L"Run");
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_NE(id, DISPID_UNKNOWN);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  ASSERT_NE(info, nullptr);
  info->Release();
  control->Release();
}

// The real hive of the test's own prefix, registered the way an installer does.
class ControlDispatchTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    registered_ = Regsvr32("/s") == 0;
  }
  void SetUp() override {
    ASSERT_TRUE(ControlModule::Get().ok());
    ASSERT_TRUE(registered_) << "regsvr32 failed";
  }
  static DWORD Regsvr32(const std::string& options) {
    Process p = StartProcess("regsvr32 " + options + " \"" + BinDir() + "Tessacom1.dll\"");
    return p ? p.Wait(kWait) : STILL_ACTIVE;
  }
  static bool registered_;
};
bool ControlDispatchTest::registered_ = false;

TEST_F(ControlDispatchTest, NamesResolveInAnyLetterCase) {
  ITessacontrol1* control = NewControl();
  ASSERT_NE(control, nullptr);
  const struct {
    const wchar_t* name;
    DISPID id;
  } cases[] = {
      {L"Init", 1},       {L"RUNMODE", 2},     {L"progname", 3},   {L"AuthCookie", 4},
      {L"dataCookie", 5}, {L"AVATARCOOKIE", 6}, {L"ServIP", 7},     {L"servport", 8},
      {L"FullDownUrl", 9}, {L"AutoDownURL", 10}, {L"CommonURL", 11}, {L"Spare", 12},
      {L"DocCookie", 13}, {L"run", 14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.name, c.name + wcslen(c.name)));
    LPOLESTR name = const_cast<LPOLESTR>(c.name);
    DISPID id = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, 0x0411, &id), S_OK);
    EXPECT_EQ(id, c.id);
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Start");
  DISPID id = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &unknown, 1, 0x0411, &id), DISP_E_UNKNOWNNAME);
  control->Release();
}

TEST_F(ControlDispatchTest, TypeInformationAndInvoke) {
  ITessacontrol1* control = NewControl();
  ASSERT_NE(control, nullptr);
  UINT count = 0;
  EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(control->GetTypeInfo(0, 0x0411, nullptr), E_POINTER);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(control->GetTypeInfo(0, 0x0411, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualIID(attributes->guid, IID_ITessacontrol1));
  info->ReleaseTypeAttr(attributes);
  BSTR help = nullptr;
  EXPECT_EQ(info->GetDocumentation(14, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_STREQ(help, L"method Run");
  SysFreeString(help);
  info->Release();

  // Init through dispatch: a 16-bit 1.
  DISPPARAMS none = {};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(control->Invoke(1, IID_NULL, 0x0411, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 1);

  // A number put into a text property is converted, not refused.
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 8080;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&number, &named, 1, 1};
  EXPECT_EQ(control->Invoke(8, IID_NULL, 0x0411, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  // Init cannot be put, nor the text properties read.
  EXPECT_NE(control->Invoke(1, IID_NULL, 0x0411, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_NE(control->Invoke(8, IID_NULL, 0x0411, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(control->Invoke(8, IID_ITessacontrol1, 0x0411, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  control->Release();
}

TEST_F(ControlDispatchTest, Regsvr32UnregistersAndRegistersAgain) {
  const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Tessacontrol1);
  EXPECT_TRUE(KeyExists(L"Tessacom1.Tessacontrol1\\CLSID"));
  EXPECT_TRUE(KeyExists(classKey + L"\\InprocServer32"));
  EXPECT_EQ(Regsvr32("/u /s"), 0u);
  EXPECT_FALSE(KeyExists(L"Tessacom1.Tessacontrol1"));
  EXPECT_FALSE(KeyExists(L"Tessacom1.Tessacontrol1.1"));
  EXPECT_FALSE(KeyExists(classKey));
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_EQ(Regsvr32("/s"), 0u);
  EXPECT_EQ(Narrow(ClassEntries()), Narrow(ExpectedClassEntries()));
}

}  // namespace
}  // namespace qz
