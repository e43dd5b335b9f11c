#include "base/settings.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "base/machine_settings.h"
#include "base/param_text.h"
#include "base/registry_text.h"
#include "format/limits.h"
#include "format/manifest.h"

namespace qz::settings {

namespace {

std::string RecordPath(const char* progName) { return std::string(kProductKey) + "\\" + progName; }

}  // namespace

bool OpenInstallRecord(const char* progName, REGSAM access, bool create, RegKey& key) {
  const std::string path = RecordPath(progName);
  const LSTATUS status = OpenLocalMachineKey(path.c_str(), access, ViewPolicy::OwnThenOther, key);
  if (status == ERROR_SUCCESS) return true;
  // A standard token is denied this under HKLM; the launcher asks first
  // (MayWriteRecord) and hands a record it may not write to its elevated copy.
  return create && status == ERROR_FILE_NOT_FOUND &&
         RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), key.put()) == ERROR_SUCCESS;
}

InstallRecord ReadInstallRecord(const char* progName) {
  InstallRecord record;
  RegKey key;
  if (!OpenInstallRecord(progName, KEY_READ, false, key)) return record;
  record.found = true;
  std::string text;
  if (ReadRegistryText(key.get(), "Version", kVersionField, text)) {
    record.version = static_cast<std::uint16_t>(LeadingDecimal(text));
  }
  // Read through 300-byte buffers; a path too long for MAX_PATH is unreadable.
  auto path = [&key](const char* name, bool folder) {
    std::string value;
    if (!ReadRegistryText(key.get(), name, 300, value)) return std::string();
    if (folder && !value.empty() && value.back() != '\\') value += '\\';
    return value.size() < kPathField ? value : std::string();
  };
  record.runDir = path("RunDir", true);
  record.runFile = path("RunFileName", false);
  return record;
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
  const LSTATUS status =
      OpenLocalMachineKey(RecordPath(progName).c_str(), KEY_SET_VALUE, ViewPolicy::OwnThenOther, key);
  if (status != ERROR_FILE_NOT_FOUND) return status == ERROR_SUCCESS;
  if (!create) return true;
  // A question leaves nothing behind: the right to make the record is asked
  // of the nearest key above it that exists, by opening that key for making
  // keys, which makes none.
  std::string above = kProductKey;
  for (;;) {
    RegKey parent;
    const LSTATUS opened =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, above.c_str(), 0, KEY_CREATE_SUB_KEY, parent.put());
    if (opened != ERROR_FILE_NOT_FOUND) return opened == ERROR_SUCCESS;
    const std::size_t cut = above.rfind('\\');
    if (cut == std::string::npos) return false;
    above.resize(cut);
  }
}

namespace {

enum class ListRead { Missing, Unusable, Read };

constexpr DWORD kMaxListBytes = 64 * 1024;
// Group Policy writes the policy key in the 64-bit view; a program of either
// width reads it there, so one policy serves the browsers of both widths.
constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

// One value's bytes, when it is there, of the wanted type and at most
// `maxBytes` long; otherwise whether it is missing or unusable, and why.
struct RawValue {
  ListRead state = ListRead::Missing;
  std::string data;
  std::string why;
};

RawValue ReadRaw(const char* keyPath, REGSAM view, const char* valueName, DWORD wantedType, DWORD maxBytes) {
  RawValue value;
  auto unusable = [&value](std::string text) {
    value.state = ListRead::Unusable;
    value.why = std::move(text);
    return value;
  };
  RegKey key;
  const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) return value;
  if (opened != ERROR_SUCCESS) {
    return unusable("the settings key could not be opened (error " + std::to_string(opened) + ")");
  }
  DWORD type = 0;
  DWORD size = 0;
  const LSTATUS queried = RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size);
  if (queried == ERROR_FILE_NOT_FOUND) return value;
  if (queried != ERROR_SUCCESS)
    return unusable("it could not be read (error " + std::to_string(queried) + ")");
  if (type != wantedType) {
    return unusable("it is of type " + std::to_string(type) + ", not " + std::to_string(wantedType));
  }
  if (size > maxBytes) {
    return unusable("it holds " + std::to_string(size) + " bytes, over " + std::to_string(maxBytes));
  }
  value.data.assign(size, '\0');
  if (size > 0 && (RegQueryValueExA(key.get(), valueName, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value.data[0]), &size) != ERROR_SUCCESS ||
                   type != wantedType)) {
    return unusable("it changed while it was read");
  }
  value.data.resize(size);  // the stored value need not end with its zeros
  value.state = ListRead::Read;
  return value;
}

// Appends the strings of one view's value; what the value was like, and when
// it is unusable, why (in `why`).
ListRead AppendList(const char* keyPath, REGSAM view, const char* valueName, std::vector<std::string>& items,
                    std::string* why = nullptr) {
  RawValue raw = ReadRaw(keyPath, view, valueName, REG_MULTI_SZ, kMaxListBytes);
  if (raw.state == ListRead::Read && raw.data.empty()) {
    raw.state = ListRead::Unusable;
    raw.why = "it is empty";
  }
  if (raw.state != ListRead::Read) {
    if (why) *why = raw.why;
    return raw.state;
  }
  const std::string& data = raw.data;
  const std::size_t before = items.size();
  std::size_t start = 0;
  // A string may hold several items separated by ";": the client package
  // writes an operator's "k1;k2" as it was given.
  while (start < data.size()) {
    std::size_t end = data.find_first_of(std::string_view(";\0", 2), start);
    if (end == std::string::npos) end = data.size();
    std::size_t first = start;
    std::size_t last = end;
    while (first < last && (data[first] == ' ' || data[first] == '\t')) ++first;
    while (last > first && (data[last - 1] == ' ' || data[last - 1] == '\t')) --last;
    if (last > first) items.push_back(data.substr(first, last - first));
    start = end + 1;
  }
  if (items.size() > before) return ListRead::Read;
  if (why) *why = "it holds no string";
  return ListRead::Unusable;
}

}  // namespace

std::vector<std::string> ReadProductList(const char* valueName, ViewPolicy policy) {
  std::vector<std::string> items;
  // A policy that holds the value decides alone; an unusable one adds nothing.
  if (FindMachineSetting(valueName) &&
      AppendList(kPolicyKey, kPolicyView, valueName, items) != ListRead::Missing) {
    return items;
  }
  const RegistryViews views = RegistryViewsFor(policy);
  for (int i = 0; i < views.count; ++i) AppendList(kProductKey, views.flags[i], valueName, items);
  return items;
}

ProductKeyList ReadProductKeys(const char* valueName, ViewPolicy policy) {
  ProductKeyList list;
  if (FindMachineSetting(valueName)) {
    std::string why;
    const ListRead set = AppendList(kPolicyKey, kPolicyView, valueName, list.lines, &why);
    if (set != ListRead::Missing) {
      list.state = set == ListRead::Read ? ProductKeyList::State::Read : ProductKeyList::State::Unusable;
      if (set == ListRead::Unusable) {
        list.lines.clear();
        list.why = "the policy's value: " + why;
      }
      return list;
    }
  }
  const RegistryViews views = RegistryViewsFor(policy);
  bool unusable = false;
  bool read = false;
  for (int i = 0; i < views.count; ++i) {
    std::string why;
    const ListRead view = AppendList(kProductKey, views.flags[i], valueName, list.lines, &why);
    if (view == ListRead::Unusable && list.why.empty()) list.why = why;
    unusable = unusable || view == ListRead::Unusable;
    read = read || view == ListRead::Read;
  }
  list.state = unusable ? ProductKeyList::State::Unusable
               : read   ? ProductKeyList::State::Read
                        : ProductKeyList::State::Missing;
  if (unusable) list.lines.clear();
  return list;
}

namespace {

constexpr char kTicketsKey[] = "Software\\Veltoworks\\Tickets";
constexpr char kKeptUntil[] = "KeptUntil";

// Whether a taken nonce may go. One whose time cannot be read stays: another
// launcher may have taken it a moment ago and not written the time yet.
bool Expired(HKEY tickets, const char* nonce, std::int64_t now) {
  std::int64_t until = 0;
  DWORD size = sizeof until;
  const LSTATUS read = RegGetValueA(tickets, nonce, kKeptUntil, RRF_RT_REG_QWORD, nullptr, &until, &size);
  return read == ERROR_SUCCESS && until <= now;
}

}  // namespace

NonceClaim ClaimTicketNonce(const std::string& nonce, std::int64_t keepUntil, std::int64_t now) {
  RegKey tickets;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kTicketsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE | DELETE, nullptr, tickets.put(), nullptr) != ERROR_SUCCESS) {
    return NonceClaim::Failed;
  }
  // Names first, then removal: an index shifts under a key that goes.
  std::vector<std::string> expired;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    const LSTATUS status = RegEnumKeyExA(tickets.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return NonceClaim::Failed;
    if (Expired(tickets.get(), name, now)) expired.emplace_back(name, length);
  }
  for (const std::string& old : expired) RegDeleteTreeA(tickets.get(), old.c_str());

  RegKey entry;
  DWORD disposition = 0;
  if (RegCreateKeyExA(tickets.get(), nonce.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, entry.put(), &disposition) != ERROR_SUCCESS) {
    return NonceClaim::Failed;
  }
  if (disposition != REG_CREATED_NEW_KEY) return NonceClaim::AlreadyUsed;
  const std::uint64_t until = static_cast<std::uint64_t>(keepUntil);
  if (RegSetValueExA(entry.get(), kKeptUntil, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&until),
                     sizeof until) != ERROR_SUCCESS) {
    // Not kept, so not taken: the ticket is refused and may come again.
    entry.reset();
    RegDeleteTreeA(tickets.get(), nonce.c_str());
    return NonceClaim::Failed;
  }
  return NonceClaim::Taken;
}

namespace {
constexpr char kSeenKey[] = "Software\\Veltoworks\\Seen";

// A kept serial: a REG_DWORD, missing, or there but unusable.
SeenSerial ReadSerialValue(HKEY key, const char* name, std::uint32_t& serial) {
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  const LSTATUS read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (read == ERROR_FILE_NOT_FOUND) return SeenSerial::None;
  if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return SeenSerial::Unreadable;
  serial = value;
  return SeenSerial::Read;
}
}  // namespace

SeenSerial ReadSeenSerial(const char* progName, std::uint32_t& serial) {
  RegKey seen;
  const LSTATUS opened = RegOpenKeyExA(HKEY_CURRENT_USER, kSeenKey, 0, KEY_QUERY_VALUE, seen.put());
  if (opened == ERROR_FILE_NOT_FOUND) return SeenSerial::None;
  if (opened != ERROR_SUCCESS) return SeenSerial::Unreadable;
  return ReadSerialValue(seen.get(), progName, serial);
}

bool RecordSeenSerial(const char* progName, std::uint32_t serial) {
  RegKey seen;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSeenKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, seen.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD value = serial;
  return RegSetValueExA(seen.get(), progName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

SeenSerial ReadMachineSerial(const char* progName, std::uint32_t& serial) {
  RegKey key;
  const LSTATUS opened =
      OpenLocalMachineKey(RecordPath(progName).c_str(), KEY_QUERY_VALUE, ViewPolicy::OwnThenOther, key);
  if (opened == ERROR_FILE_NOT_FOUND) return SeenSerial::None;
  if (opened != ERROR_SUCCESS) return SeenSerial::Unreadable;
  return ReadSerialValue(key.get(), "Serial", serial);
}

std::string ReadRecordedManifestUrl(const char* progName) {
  RegKey key;
  if (!OpenInstallRecord(progName, KEY_QUERY_VALUE, false, key)) return std::string();
  char value[300] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), "ManifestURL", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::string();
  }
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  return value;
}

bool RecordMachineManifest(const char* progName, std::uint32_t serial, const std::string& manifestUrl,
                           bool create) {
  RegKey key;
  if (!OpenInstallRecord(progName, KEY_QUERY_VALUE | KEY_SET_VALUE, create, key)) return false;
  std::uint32_t kept = 0;
  const bool higher = ReadMachineSerial(progName, kept) != SeenSerial::Read || serial > kept;
  const DWORD value = serial;
  return (!higher || RegSetValueExA(key.get(), "Serial", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                    sizeof value) == ERROR_SUCCESS) &&
         RegSetValueExA(key.get(), "ManifestURL", 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(manifestUrl.c_str()),
                        static_cast<DWORD>(manifestUrl.size() + 1)) == ERROR_SUCCESS;
}

std::uint32_t ReadRateLimitKBps() {
  const DWORD machine = ReadProductNumber("RateLimitKBps", 0);
  DWORD user = 0;
  DWORD size = sizeof user;
  if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Veltoworks", "RateLimitKBps", RRF_RT_REG_DWORD, nullptr,
                   &user, &size) != ERROR_SUCCESS) {
    user = 0;
  }
  if (machine == 0) return user;
  if (user == 0) return machine;
  return machine < user ? machine : user;
}

namespace {

// A number as the setting's row allows it; nothing when it is of another
// type, size or outside the row's bounds.
std::optional<DWORD> NumberOf(const RawValue& raw, const MachineSetting* setting) {
  if (raw.state != ListRead::Read || raw.data.size() != sizeof(DWORD)) return std::nullopt;
  DWORD value = 0;
  std::memcpy(&value, raw.data.data(), sizeof value);
  if (setting && (value < setting->least || value > setting->most)) return std::nullopt;
  return value;
}

}  // namespace

DWORD ReadProductNumber(const char* valueName, DWORD fallback) {
  const MachineSetting* setting = FindMachineSetting(valueName);
  if (setting) {
    const RawValue policy = ReadRaw(kPolicyKey, kPolicyView, valueName, REG_DWORD, sizeof(DWORD));
    if (policy.state != ListRead::Missing) return NumberOf(policy, setting).value_or(fallback);
  }
  const RawValue own = ReadRaw(kProductKey, 0, valueName, REG_DWORD, sizeof(DWORD));
  return NumberOf(own, setting).value_or(fallback);
}

std::string ReadChannel(bool machineOnly) {
  const char name[] = "Channel";
  auto channelOf = [](const RawValue& raw) -> std::optional<std::string> {
    if (raw.state != ListRead::Read) return std::nullopt;
    std::string text = raw.data.substr(0, raw.data.find('\0'));
    if (!IsChannelName(text)) return std::nullopt;
    return text;
  };
  if (auto policy = channelOf(ReadRaw(kPolicyKey, kPolicyView, name, REG_SZ, 33))) return *policy;
  if (!machineOnly) {
    char text[34] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Veltoworks", name, RRF_RT_REG_SZ, nullptr, text, &size) ==
            ERROR_SUCCESS &&
        IsChannelName(text)) {
      return text;
    }
  }
  return channelOf(ReadRaw(kProductKey, 0, name, REG_SZ, 33)).value_or(kMainChannel);
}

std::uint32_t ReadRolloutBucket() {
  const DWORD set = ReadProductNumber("RolloutBucket", kRolloutBuckets);
  if (set < kRolloutBuckets) return set;
  // The 64-bit view: a 32-bit launcher on a 64-bit PC sees the same identity.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return kRolloutBuckets - 1;
  }
  char guid[64] = {};
  DWORD size = sizeof guid - 1;
  const bool read =
      RegGetValueA(key, nullptr, "MachineGuid", RRF_RT_REG_SZ, nullptr, guid, &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!read || guid[0] == '\0') return kRolloutBuckets - 1;
  return RolloutBucketOf(guid);
}

std::optional<DWORD> ReadSignaturesRequired() {
  const char name[] = "SignaturesRequired";
  const MachineSetting* setting = FindMachineSetting(name);
  const RawValue policy = ReadRaw(kPolicyKey, kPolicyView, name, REG_DWORD, sizeof(DWORD));
  if (policy.state != ListRead::Missing) return NumberOf(policy, setting);
  const RawValue own = ReadRaw(kProductKey, 0, name, REG_DWORD, sizeof(DWORD));
  if (own.state == ListRead::Missing) return 1;
  return NumberOf(own, setting);
}

std::string ReadProductText(const char* valueName, const std::string& fallback) {
  const MachineSetting* setting = FindMachineSetting(valueName);
  const DWORD most = setting ? setting->most : MAX_PATH;
  auto textOf = [&](const RawValue& raw) -> std::optional<std::string> {
    if (raw.state != ListRead::Read) return std::nullopt;
    std::string text = raw.data.substr(0, raw.data.find('\0'));
    if (text.empty() || text.size() > most) return std::nullopt;
    return text;
  };
  if (setting) {
    const RawValue policy = ReadRaw(kPolicyKey, kPolicyView, valueName, REG_SZ, most + 1);
    if (policy.state != ListRead::Missing) return textOf(policy).value_or(fallback);
  }
  return textOf(ReadRaw(kProductKey, 0, valueName, REG_SZ, most + 1)).value_or(fallback);
}

}  // namespace qz::settings
