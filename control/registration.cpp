// Self-registration: the class entries and the browsers' elevation policy
// for the launcher come from the module's "REGISTRY" resource, the type
// library from its "TYPELIB" resource.
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "base/folders.h"
#include "base/registration_rows.h"
#include "base/win_handles.h"
#include "base/win_text.h"
#include "control/control_log.h"
#include "control/module.h"
#include "control/resource.h"
#include "control/tessacom1.h"

namespace qz::control {
namespace {

// The module's full path in its long form; empty on failure.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(ThisModule(), &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const DWORD longLength = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (longLength == 0) return path;
  std::wstring longPath(longLength, L'\0');
  const DWORD n = GetLongPathNameW(path.c_str(), &longPath[0], longLength);
  if (n == 0 || n >= longLength) return path;
  longPath.resize(n);
  return longPath;
}

std::string ClassIdText() {
  wchar_t text[40] = {};
  StringFromGUID2(CLSID_Tessacontrol1, text, 40);  // braces, upper-case digits
  return WideToUtf8(text);
}

// Where the control starts the launcher from, as the rows' UTF-8.
std::string WindowsFolder() {
  const std::string folder = InstalledLauncherFolder();
  return folder.empty() ? folder : WideToUtf8(AnsiToWide(folder));
}

// The rows of the registration resource; nothing when it is missing or damaged.
std::vector<RegistryRow> RegistrationRows(const std::wstring& modulePath, bool* ok) {
  const std::string windows = WindowsFolder();
  std::optional<std::vector<RegistryRow>> rows;
  if (!windows.empty()) {
    rows =
        LoadRegistrationRows(ThisModule(), IDR_REGISTRATION, ClassIdText(), WideToUtf8(modulePath), windows);
  }
  *ok = rows.has_value();
  return rows ? std::move(*rows) : std::vector<RegistryRow>{};
}

// The type library from the module itself, else from the ".tlb" beside it.
HRESULT LoadOwnTypeLibrary(const std::wstring& modulePath, ITypeLib** library, std::wstring* loadedFrom) {
  HRESULT hr = LoadTypeLib(modulePath.c_str(), library);
  if (SUCCEEDED(hr)) {
    *loadedFrom = modulePath;
    return hr;
  }
  std::wstring tlb = modulePath;
  const std::size_t dot = tlb.rfind(L'.');
  const std::size_t separator = tlb.find_last_of(L"\\/:");
  if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator)) tlb.resize(dot);
  tlb += L".tlb";
  hr = LoadTypeLib(tlb.c_str(), library);
  if (SUCCEEDED(hr)) *loadedFrom = tlb;
  return hr;
}

// The failure behind the last error, never S_OK: a call that failed without
// setting one still failed.
HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The exception being handled, as the failure the caller gets: out of memory
// only when memory ran out.
HRESULT CaughtResult() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error& error) {
    const int code = error.code().value();
    return error.code().category() == std::system_category() && code != 0 ? HRESULT_FROM_WIN32(code) : E_FAIL;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace
}  // namespace qz::control

using namespace qz;
using namespace qz::control;

STDAPI DllRegisterServer() {
  std::vector<RegistryRow> rows;
  bool writing = false;
  try {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return LastErrorResult();
    bool ok = false;
    rows = RegistrationRows(modulePath, &ok);
    if (!ok) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    writing = true;
    const LONG status = WriteRegistrationRows(HKEY_CLASSES_ROOT, rows);
    writing = false;
    if (status != ERROR_SUCCESS) {
      RemoveRegistrationRows(HKEY_CLASSES_ROOT, rows);
      return HRESULT_FROM_WIN32(status);
    }

    ITypeLib* library = nullptr;
    std::wstring loadedFrom;
    HRESULT hr = LoadOwnTypeLibrary(modulePath, &library, &loadedFrom);
    if (FAILED(hr)) return hr;
    std::wstring helpFolder = loadedFrom;
    const std::size_t separator = helpFolder.find_last_of(L"\\/:");
    helpFolder.resize(separator == std::wstring::npos ? 0 : separator + 1);
    hr = RegisterTypeLib(library, &loadedFrom[0], helpFolder.empty() ? nullptr : &helpFolder[0]);
    library->Release();
    return hr;
  } catch (...) {
    const HRESULT hr = CaughtResult();
    LogCaught();
    // A registration cut short part-way is removed, as a failed write is.
    if (writing) {
      try {
        RemoveRegistrationRows(HKEY_CLASSES_ROOT, rows);
      } catch (...) {
        LogCaught();
      }
    }
    return hr;
  }
}

STDAPI DllUnregisterServer() {
  try {
    const std::wstring modulePath = ModulePath();
    bool ok = false;
    RemoveRegistrationRows(HKEY_CLASSES_ROOT, RegistrationRows(modulePath, &ok));

    ITypeLib* library = nullptr;
    std::wstring loadedFrom;
    if (!modulePath.empty() && SUCCEEDED(LoadOwnTypeLibrary(modulePath, &library, &loadedFrom))) {
      TLIBATTR* attributes = nullptr;
      if (SUCCEEDED(library->GetLibAttr(&attributes))) {
        UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                          attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
      }
      library->Release();
    }
  } catch (...) {
    LogCaught();
  }
  return S_OK;
}
