// What each user's launcher keeps of the launch tickets it took, and how the
// machine's settings are read: a value that is there but cannot be used is
// never taken for one that is missing, and Group Policy's value comes first.
#include <gtest/gtest.h>

#include "base/machine_settings.h"
#include "base/settings.h"
#include "tests/win/scratch_registry.h"

namespace qz {
namespace {

using settings::NonceClaim;
using State = settings::ProductKeyList::State;

const char kTickets[] = "Software\\Veltoworks\\Tickets\\";

class TicketSettings : public test::ScratchRegistry {};

TEST_F(TicketSettings, NoncesAreTakenOnceAndDroppedWhenTheirTicketIsOver) {
  EXPECT_EQ(settings::ClaimTicketNonce("aa", 1000, 500), NonceClaim::Taken);
  EXPECT_EQ(settings::ClaimTicketNonce("aa", 1000, 999), NonceClaim::AlreadyUsed);
  EXPECT_EQ(settings::ClaimTicketNonce("bb", 2000, 999), NonceClaim::Taken);
  // Another launcher's nonce whose time is not written yet stays.
  SetText(HKEY_CURRENT_USER, std::string(kTickets) + "cc", nullptr, nullptr);
  // From its keeping time on a nonce goes, so the store does not grow.
  EXPECT_EQ(settings::ClaimTicketNonce("dd", 3000, 1000), NonceClaim::Taken);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(kTickets) + "aa"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kTickets) + "bb"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kTickets) + "cc"));
  EXPECT_EQ(settings::ClaimTicketNonce("bb", 2000, 1000), NonceClaim::AlreadyUsed);
}

TEST_F(TicketSettings, KeyListsThatExistButCannotBeUsedAreNotMissing) {
  const struct {
    const char* id;
    DWORD type;
    std::string data;  // none: no value
    State state;
    std::size_t lines;
  } cases[] = {
      {"missing", REG_NONE, "", State::Missing, 0},
      {"two keys", REG_MULTI_SZ, std::string("a\0b\0\0", 5), State::Read, 2},
      {"without its final zeros", REG_MULTI_SZ, "a", State::Read, 1},
      {"a plain string", REG_SZ, std::string("a\0", 2), State::Unusable, 0},
      {"no string at all", REG_MULTI_SZ, std::string("\0\0", 2), State::Unusable, 0},
      {"items in one string, as the package writes them", REG_MULTI_SZ, std::string("a; b;;c \0d\0\0", 13),
       State::Read, 4},
      {"only separators and blanks", REG_MULTI_SZ, std::string("; ;\0\0", 5), State::Unusable, 0},
      {"over 64 KiB", REG_MULTI_SZ, std::string(65 * 1024, 'a') + std::string("\0\0", 2), State::Unusable, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(key.get(), "PortalKeys");
    if (c.type != REG_NONE) {
      ASSERT_EQ(
          RegSetValueExA(key.get(), "PortalKeys", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                         static_cast<DWORD>(c.data.size())),
          ERROR_SUCCESS);
    }
    const settings::ProductKeyList list = settings::ReadProductKeys("PortalKeys", ViewPolicy::OwnView);
    EXPECT_EQ(list.state, c.state);
    EXPECT_EQ(list.lines.size(), c.lines);
    if (c.lines == 4) EXPECT_EQ(list.lines, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(list.why.empty(), c.state != State::Unusable) << list.why;
  }
}

class MachineSettings : public test::ScratchRegistry {
 protected:
  static void Set(const char* path, const char* name, DWORD type, const std::string& data) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    if (type == REG_NONE) {
      RegDeleteValueA(key.get(), name);
      return;
    }
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  }
  static std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }
};

// Every row of the table: the policy's value wins over the package's, an
// unusable policy value is not replaced by the package's, and without a
// policy value the package's counts.
TEST_F(MachineSettings, PolicyValuesComeFirstForEveryMachineSetting) {
  for (const MachineSetting& setting : kMachineSettings) {
    SCOPED_TRACE(setting.name);
    const char* name = setting.name;
    switch (setting.kind) {
      case SettingKind::List: {
        auto lines = [name] { return settings::ReadProductKeys(name, ViewPolicy::OwnView).lines; };
        auto list = [name] { return settings::ReadProductList(name, ViewPolicy::OwnView); };
        Set(kProductKey, name, REG_MULTI_SZ, std::string("package\0\0", 9));
        EXPECT_EQ(lines(), std::vector<std::string>{"package"});
        Set(kPolicyKey, name, REG_MULTI_SZ, std::string("a;b\0\0", 5));
        EXPECT_EQ(lines(), (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(list(), (std::vector<std::string>{"a", "b"}));
        Set(kPolicyKey, name, REG_SZ, std::string("a\0", 2));
        const settings::ProductKeyList unusable = settings::ReadProductKeys(name, ViewPolicy::OwnView);
        EXPECT_EQ(unusable.state, State::Unusable);
        EXPECT_EQ(unusable.why.rfind("the policy's value", 0), 0u) << unusable.why;
        EXPECT_TRUE(list().empty());
        break;
      }
      case SettingKind::Number: {
        const DWORD fallback = 7777777;
        auto read = [name] { return settings::ReadProductNumber(name, 7777777); };
        Set(kProductKey, name, REG_DWORD, Dword(setting.least));
        EXPECT_EQ(read(), setting.least);
        Set(kPolicyKey, name, REG_DWORD, Dword(setting.most));
        EXPECT_EQ(read(), setting.most);
        Set(kPolicyKey, name, REG_DWORD, Dword(setting.most + 1));
        EXPECT_EQ(read(), fallback) << "out of bounds";
        Set(kPolicyKey, name, REG_SZ, std::string("1\0", 2));
        EXPECT_EQ(read(), fallback) << "of another type";
        Set(kPolicyKey, name, REG_NONE, "");
        Set(kProductKey, name, REG_DWORD, Dword(setting.most + 1));
        EXPECT_EQ(read(), fallback) << "the package's out of bounds";
        break;
      }
      case SettingKind::Text: {
        auto read = [name] { return settings::ReadProductText(name, "fallback"); };
        Set(kProductKey, name, REG_SZ, std::string("package\0", 8));
        EXPECT_EQ(read(), "package");
        Set(kPolicyKey, name, REG_SZ, std::string("policy\0", 7));
        EXPECT_EQ(read(), "policy");
        Set(kPolicyKey, name, REG_SZ, std::string(setting.most + 1, 'x') + '\0');
        EXPECT_EQ(read(), "fallback") << "too long";
        break;
      }
    }
    Set(kPolicyKey, name, REG_NONE, "");
  }
  // The tests' support values are no machine settings: a policy never sets them.
  Set(kProductKey, "RetryDelayMs", REG_DWORD, Dword(5));
  Set(kPolicyKey, "RetryDelayMs", REG_DWORD, Dword(6));
  EXPECT_EQ(settings::ReadProductNumber("RetryDelayMs", 1000), 5u);
}

}  // namespace
}  // namespace qz
