// What each user's launcher keeps of the launch tickets it took, and how the
// machine's key lists are read: a value that is there but cannot be used is
// never taken for one that is missing.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qz
