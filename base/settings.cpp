#include "base/settings.h"

#include <cstdio>

namespace qz::settings {

namespace {

constexpr char kProductKey[] = "SOFTWARE\\Veltoworks";

std::string RecordPath(const char* progName) { return std::string(kProductKey) + "\\" + progName; }

}  // namespace

bool OpenInstallRecord(const char* progName, REGSAM access, bool create, RegKey& key) {
  const std::string path = RecordPath(progName);
  const LSTATUS status = OpenLocalMachineKey(path.c_str(), access, ViewPolicy::OwnThenOther, key);
  if (status == ERROR_SUCCESS) return true;
  return create && status == ERROR_FILE_NOT_FOUND &&
         RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), key.put()) == ERROR_SUCCESS;
}

bool WriteRecordVersion(const char* progName, std::uint16_t version, bool create) {
  RegKey key;
  if (!OpenInstallRecord(progName, KEY_WRITE, create, key)) return false;
  char text[8];
  const int n = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(version));
  return RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(n + 1)) == ERROR_SUCCESS;
}

bool MayWriteRecord(const char* progName, bool create) {
  RegKey key;
  const LSTATUS status = OpenLocalMachineKey(RecordPath(progName).c_str(), KEY_SET_VALUE, ViewPolicy::OwnThenOther, key);
  if (status != ERROR_FILE_NOT_FOUND) return status == ERROR_SUCCESS;
  return !create || OpenInstallRecord(progName, KEY_SET_VALUE, true, key);
}

namespace {

void AppendList(HKEY root, REGSAM view, const char* valueName, std::vector<std::string>& items) {
  RegKey key;
  if (RegOpenKeyExA(root, kProductKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0 || size > 64 * 1024) {
    return;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return;
  }
  data.resize(size);  // the stored value need not end with its two zeros
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    if (end > start) items.push_back(data.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::vector<std::string> ReadProductList(const char* valueName, ViewPolicy policy) {
  std::vector<std::string> items;
  const RegistryViews views = RegistryViewsFor(policy);
  for (int i = 0; i < views.count; ++i) AppendList(HKEY_LOCAL_MACHINE, views.flags[i], valueName, items);
  return items;
}

DWORD ReadProductNumber(const char* valueName, DWORD fallback) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return fallback;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return fallback;
  }
  return value;
}

}  // namespace qz::settings
