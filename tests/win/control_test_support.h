// The browser control as a client loads it: Tessacom1.dll from the build's
// program folder, its exports, and the stand-in that plays the installed
// launcher in the Windows folder.
#pragma once

#include <windows.h>
#include <objsafe.h>

#include <string>

#include "control/tessacom1.h"
#include "tests/winsupport/win_test_support.h"

namespace qz::test {

struct ControlModule {
  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* Register)() = nullptr;
  HRESULT(STDAPICALLTYPE* Unregister)() = nullptr;

  // Loaded once per test program and kept, as a browser keeps it.
  static const ControlModule& Get() {
    static ControlModule m = [] {
      ControlModule c;
      c.module = LoadLibraryA((BinDir() + "Tessacom1.dll").c_str());
      if (c.module) {
        c.GetClassObject = reinterpret_cast<decltype(c.GetClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "DllGetClassObject")));
        c.CanUnloadNow = reinterpret_cast<decltype(c.CanUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "DllCanUnloadNow")));
        c.Register = reinterpret_cast<decltype(c.Register)>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "DllRegisterServer")));
        c.Unregister = reinterpret_cast<decltype(c.Unregister)>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "DllUnregisterServer")));
      }
      return c;
    }();
    return m;
  }
  bool ok() const { return module && GetClassObject && CanUnloadNow && Register && Unregister; }
};

// A new control object straight from the module's class object.
inline ITessacontrol1* NewControl() {
  IClassFactory* factory = nullptr;
  if (FAILED(ControlModule::Get().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory,
                                                 reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  ITessacontrol1* control = nullptr;
  factory->CreateInstance(nullptr, IID_ITessacontrol1, reinterpret_cast<void**>(&control));
  factory->Release();
  return control;
}

// The installed launcher's place, where Run looks for it: the system's
// Windows folder, where the package puts it for every account.
inline std::string LauncherPath() {
  char windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryA(windows, MAX_PATH);
  std::string path = windows;
  if (path.back() != '\\') path += '\\';
  return path + "Quorlynx1.exe";
}

// Puts the stand-in there and forgets what an earlier start recorded.
inline bool PlaceStandInLauncher() {
  const std::string exe = LauncherPath();
  DeleteFileA((exe + ".record.txt").c_str());
  DeleteFileA((exe + ".block").c_str());
  return CopyProgram("standin_game.exe", exe);
}

// Puts a text the way a script does: a system string the caller frees right
// after the call (null stays null).
inline HRESULT PutText(ITessacontrol1* control, HRESULT (STDMETHODCALLTYPE ITessacontrol1::*put)(BSTR),
                       const wchar_t* text) {
  BSTR value = text ? SysAllocString(text) : nullptr;
  const HRESULT hr = (control->*put)(value);
  SysFreeString(value);
  return hr;
}

}  // namespace qz::test
