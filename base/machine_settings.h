// The machine's settings an operator sets, as data: one row per value, which
// the launcher's reader (settings.cpp), the client package's rows and
// properties (made by package/registry_rows.cpp) and the check of the Group
// Policy templates all take from here, so none of them can forget one.
// Pure: no Windows headers, the package's build tool reads it natively.
#pragma once

#include <cstdint>
#include <string_view>

namespace qz {

// Where the values live below HKEY_LOCAL_MACHINE. A value under the policy
// key (Group Policy writes it, in the 64-bit view on 64-bit Windows) is read
// ahead of the same value under the product key (the client package writes
// it, in both views).
inline constexpr char kProductKey[] = "SOFTWARE\\Veltoworks";
inline constexpr char kPolicyKey[] = "SOFTWARE\\Policies\\Veltoworks\\Quorlynx";
// The client package keeps the properties it was given here, for a repair or
// an upgrade run without them.
inline constexpr char kPackageKey[] = "SOFTWARE\\Veltoworks\\Package";

enum class SettingKind {
  List,    // REG_MULTI_SZ, one item per string or several separated by ";"
  Number,  // REG_DWORD between `least` and `most`
  Text,    // REG_SZ of at most `most` characters
};

struct MachineSetting {
  const char* name;  // the value's name under both keys
  SettingKind kind;
  const char* property;      // the client package's public property
  std::uint32_t fallback;    // Number: what a missing or unusable value means
  std::uint32_t least;       // Number: the smallest value taken
  std::uint32_t most;        // Number: the largest; Text: the most characters
  const char* fallbackText;  // Text: what a missing or unusable value means
  const char* what;          // one line for operators
};

inline constexpr MachineSetting kMachineSettings[] = {
    {"ManifestKeys", SettingKind::List, "MANIFESTKEYS", 0, 0, 0, nullptr,
     "publishers' public keys: manifests and setup-mode installers must be signed by them"},
    {"PortalKeys", SettingKind::List, "PORTALKEYS", 0, 0, 0, nullptr,
     "the portal's public keys for quorlynx: links; without them every link is refused"},
    {"TrustedSites", SettingKind::List, "TRUSTEDSITES", 0, 0, 0, nullptr,
     "https origins whose pages may use the control besides the portal"},
    {"GameLocations", SettingKind::List, "GAMELOCATIONS", 0, 0, 0, nullptr,
     "with keys configured, the only registry locations a setup mode reads"},
    {"RateLimitKBps", SettingKind::Number, "RATELIMITKBPS", 0, 0, 1000000, nullptr,
     "download cap in KB/s, 0 for none"},
    {"Channel", SettingKind::Text, "CHANNEL", 0, 0, 32, "main", "the release channel the launcher follows"},
    {"ServiceDisabled", SettingKind::Number, "DISABLESERVICE", 0, 0, 1, nullptr,
     "1 turns the maintenance service off"},
    {"SignaturesRequired", SettingKind::Number, "SIGNATURESREQUIRED", 1, 1, 16, nullptr,
     "how many distinct configured keys must sign a manifest"},
};

// The row of a value name (compared without regard to case, as the registry
// does); null for a value that is no machine setting (the tests' support values).
const MachineSetting* FindMachineSetting(std::string_view name);

// What a package property given as this clears the setting: the value and
// the package's saved copy are removed instead of written.
inline constexpr char kClearSetting[] = "-";

}  // namespace qz
