// Self-registration: the class entries and the browsers' elevation policy
// for the launcher come from the module's "REGISTRY" resource, the type
// library from its "TYPELIB" resource.
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "control/module.h"
#include "control/registration_script.h"
#include "control/resource.h"
#include "control/tessacom1.h"
#include "base/win_handles.h"

namespace qz::control {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                        nullptr);
  }
  return out;
}

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
  return Utf8(text);
}

// Where the control starts the launcher from.
std::string WindowsFolder() {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  return length > 0 && length < MAX_PATH ? Utf8(windows) : std::string();
}

// The rows of the registration resource; nothing when it is missing or damaged.
std::vector<RegistryRow> RegistrationRows(const std::wstring& modulePath, bool* ok) {
  *ok = false;
  HRSRC found = FindResourceW(ThisModule(), MAKEINTRESOURCEW(IDR_REGISTRATION), L"REGISTRY");
  HGLOBAL loaded = found ? LoadResource(ThisModule(), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  const std::string_view script(static_cast<const char*>(data), SizeofResource(ThisModule(), found));
  const std::string windows = WindowsFolder();
  if (windows.empty()) return {};
  auto rows = ParseRegistrationScript(script, ClassIdText(), Utf8(modulePath), windows);
  if (!rows) return {};
  *ok = true;
  return std::move(*rows);
}

// A machine key is written in the module's own view: a browser reads its
// elevation policies from the view of its own width.
HKEY RootOf(const RegistryRow& row) { return row.machine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT; }

bool IsTree(const RegistryRow& row) {
  return row.kind == RegistryRow::Kind::Tree || row.kind == RegistryRow::Kind::FreshTree;
}

LONG RemoveTree(const RegistryRow& row) {
  const LONG status = RegDeleteTreeW(RootOf(row), Wide(row.key).c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

void RemoveRegistration(const std::vector<RegistryRow>& rows) {
  for (const RegistryRow& row : rows) {
    if (IsTree(row)) RemoveTree(row);
  }
}

LONG WriteValue(const RegistryRow& row) {
  RegKey opened;
  LONG status = RegCreateKeyExW(RootOf(row), Wide(row.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, opened.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  const std::wstring name = Wide(row.name);
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  if (row.kind == RegistryRow::Kind::Number) {
    const DWORD number = static_cast<DWORD>(row.number);
    return RegSetValueExW(opened.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  }
  const std::wstring data = Wide(row.data);
  return RegSetValueExW(opened.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

LONG WriteRegistration(const std::vector<RegistryRow>& rows) {
  for (const RegistryRow& row : rows) {
    if (row.kind == RegistryRow::Kind::FreshTree) {
      // What an earlier registration or anyone else left below our key goes.
      const LONG status = RemoveTree(row);
      if (status != ERROR_SUCCESS) return status;
    }
    if (IsTree(row)) continue;
    const LONG status = WriteValue(row);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
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
    const LONG status = WriteRegistration(rows);
    writing = false;
    if (status != ERROR_SUCCESS) {
      RemoveRegistration(rows);
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
    // A registration cut short part-way is removed, as a failed write is.
    if (writing) {
      try {
        RemoveRegistration(rows);
      } catch (...) {
      }
    }
    return hr;
  }
}

STDAPI DllUnregisterServer() {
  try {
    const std::wstring modulePath = ModulePath();
    bool ok = false;
    RemoveRegistration(RegistrationRows(modulePath, &ok));

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
  }
  return S_OK;
}
