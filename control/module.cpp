// The module's entry points: load and unload, the class object, the unload
// rule. Registration is in registration.cpp.
#include "control/module.h"

#include <new>

#include "control/control_log.h"
#include "control/tessacom1.h"
#include "control/tessacontrol1.h"

namespace qz::control {
namespace {

HMODULE gModule = nullptr;
LONG gLocks = 0;
// Guards the first creation of the class object and the first type load.
SRWLOCK gModuleLock = SRWLOCK_INIT;
ITypeInfo* gTypeInfo = nullptr;
constexpr LCID kLibraryLocale = 0x0409;  // as the IDL declares it

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }

  // The module holds one reference itself; a second one means somebody
  // outside holds the class object, which keeps the module loaded.
  STDMETHODIMP_(ULONG) AddRef() override {
    AcquireSRWLockExclusive(&lock_);
    const ULONG refs = ++refs_;
    if (refs == 2) LockModule();
    ReleaseSRWLockExclusive(&lock_);
    return refs;
  }

  STDMETHODIMP_(ULONG) Release() override {
    AcquireSRWLockExclusive(&lock_);
    const ULONG refs = --refs_;
    if (refs == 1) UnlockModule();
    ReleaseSRWLockExclusive(&lock_);
    if (refs == 0) delete this;
    return refs;
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
      return Tessacontrol1::Create(iid, out);
    } catch (...) {
      LogCaught();
      return E_UNEXPECTED;
    }
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  ULONG refs_ = 1;  // the module's own
};

ClassFactory* gFactory = nullptr;

}  // namespace

void LockModule() { InterlockedIncrement(&gLocks); }
void UnlockModule() { InterlockedDecrement(&gLocks); }
HMODULE ThisModule() { return gModule; }

HRESULT InterfaceTypeInfo(LCID lcid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  AcquireSRWLockExclusive(&gModuleLock);
  HRESULT hr = S_OK;
  if (!gTypeInfo) {
    ITypeLib* library = nullptr;
    hr = LoadRegTypeLib(LIBID_TESSACOM1Lib, 1, 0, lcid, &library);
    // The library is registered for its own locale only; a caller on a
    // Japanese system asks for 0x0411 and must still find it.
    if (FAILED(hr)) hr = LoadRegTypeLib(LIBID_TESSACOM1Lib, 1, 0, kLibraryLocale, &library);
    // Installed by the client package, which registers no type library, the
    // control answers from the library inside itself (registering nothing).
    if (FAILED(hr)) {
      wchar_t path[MAX_PATH];
      const DWORD length = GetModuleFileNameW(gModule, path, MAX_PATH);
      if (length > 0 && length < MAX_PATH) hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    }
    if (SUCCEEDED(hr)) {
      hr = library->GetTypeInfoOfGuid(IID_ITessacontrol1, &gTypeInfo);
      library->Release();
    }
  }
  if (gTypeInfo) {
    gTypeInfo->AddRef();
    *out = gTypeInfo;
  }
  ReleaseSRWLockExclusive(&gModuleLock);
  return hr;
}

}  // namespace qz::control

using namespace qz::control;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    gModule = instance;
    gLocks = 0;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Only on FreeLibrary: when the process ends, the system libraries these
    // objects live in may already be gone.
    if (gFactory) gFactory->Release();
    gFactory = nullptr;
    if (gTypeInfo) gTypeInfo->Release();
    gTypeInfo = nullptr;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Tessacontrol1)) return CLASS_E_CLASSNOTAVAILABLE;
  AcquireSRWLockExclusive(&gModuleLock);
  if (!gFactory) gFactory = new (std::nothrow) ClassFactory;
  ClassFactory* factory = gFactory;
  ReleaseSRWLockExclusive(&gModuleLock);
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return InterlockedCompareExchange(&gLocks, 0, 0) == 0 ? S_OK : S_FALSE; }
