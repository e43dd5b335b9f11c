#include "base/registration_rows.h"

#include <string>

#include "base/win_handles.h"
#include "base/win_text.h"

namespace qz {

namespace {

HKEY RootOf(HKEY root, const RegistryRow& row) { return row.machine ? HKEY_LOCAL_MACHINE : root; }

LONG RemoveTree(HKEY root, const std::wstring& key) {
  const LONG status = RegDeleteTreeW(root, key.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG WriteValue(HKEY root, const RegistryRow& row) {
  RegKey opened;
  LONG status = RegCreateKeyExW(root, Utf8ToWide(row.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, opened.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  const std::wstring name = Utf8ToWide(row.name);
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  if (row.kind == RegistryRow::Kind::Number) {
    const DWORD number = static_cast<DWORD>(row.number);
    return RegSetValueExW(opened.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  }
  const std::wstring data = Utf8ToWide(row.data);
  return RegSetValueExW(opened.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool IsTree(const RegistryRow& row) {
  return row.kind == RegistryRow::Kind::Tree || row.kind == RegistryRow::Kind::FreshTree;
}

}  // namespace

std::optional<std::vector<RegistryRow>> LoadRegistrationRows(HMODULE module, int resourceId,
                                                             std::string_view classId,
                                                             std::string_view modulePath,
                                                             std::string_view windowsFolder) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"REGISTRY");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  const std::string_view script(static_cast<const char*>(data), SizeofResource(module, found));
  return ParseRegistrationScript(script, classId, modulePath, windowsFolder);
}

LONG WriteRegistrationRows(HKEY root, const std::vector<RegistryRow>& rows) {
  for (const RegistryRow& row : rows) {
    if (row.kind == RegistryRow::Kind::FreshTree) {
      // What an earlier registration or anyone else left below our key goes.
      const LONG status = RemoveTree(RootOf(root, row), Utf8ToWide(row.key));
      if (status != ERROR_SUCCESS) return status;
    }
    if (IsTree(row)) continue;
    const LONG status = WriteValue(RootOf(root, row), row);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

LONG RemoveRegistrationRows(HKEY root, const std::vector<RegistryRow>& rows) {
  LONG first = ERROR_SUCCESS;
  for (const RegistryRow& row : rows) {
    if (!IsTree(row)) continue;
    const LONG status = RemoveTree(RootOf(root, row), Utf8ToWide(row.key));
    if (first == ERROR_SUCCESS) first = status;
  }
  return first;
}

}  // namespace qz
