// What the launcher's own token may write, as it asks before a change: the
// place itself when it is there, else the nearest folder above it.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "base/access_list.h"
#include "base/private_folder.h"
#include "base/rights.h"
#include "base/service_channel.h"
#include "base/win_handles.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

// A folder whose access list lets everyone read and nobody add, as a folder
// under Program Files is for a player without rights. (Wine keeps a file's
// access list only as its POSIX mode, where a file nobody may write is just a
// read-only one: only a folder shows the difference here.)
bool MakeReadOnlyFolder(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FRFX;;;WD)", SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const bool made = CreateDirectoryA(path.c_str(), &attributes) != FALSE;
  LocalFree(descriptor);
  return made;
}

TEST(Rights, WhatTheOwnTokenMayWrite) {
  const std::string dir = NewTempDir("rights");
  ASSERT_TRUE(WriteFileBytes(dir + "open.txt", "x"));
  ASSERT_TRUE(MakeReadOnlyFolder(dir + "locked"));
  // Only the attribute: an upgrade clears it and writes the file.
  ASSERT_TRUE(WriteFileBytes(dir + "readonly.txt", "x"));
  ASSERT_TRUE(SetFileAttributesA((dir + "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  const struct {
    std::string path;
    bool may;
  } cases[] = {
      {dir, true},
      {dir + "open.txt", true},
      {dir + "readonly.txt", true},
      {dir + "new\\deeper\\file.txt", true},  // made in the folder that is there
      {dir + "locked", false},
      {dir + "locked\\new\\file.txt", false},
      {dir + "open.txt\\below", false},  // a file where a folder would have to be
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MayWritePath(c.path), c.may) << "'" << c.path << "'";
  // Asked again through one object (a folder's answer is kept): the same.
  WriteRights rights;
  for (const auto& c : cases) EXPECT_EQ(rights.May(c.path), c.may) << "again: '" << c.path << "'";
  // Wine gives every process an administrator's token: the launcher must
  // not take that for a protected browser's.
  EXPECT_GE(OwnIntegrityLevel(), static_cast<DWORD>(SECURITY_MANDATORY_MEDIUM_RID));
}

// What the elevated side reads from a descriptor before it trusts an object
// of the player's session. Wine enforces no access list, so the descriptors
// themselves are the proof here.
TEST(Rights, OnlySystemAndAdministratorsMayChangeWhatTheElevatedSideTrusts) {
  const std::string user = OwnUserSid();
  ASSERT_FALSE(user.empty());
  const struct {
    const char* id;
    std::string sddl;
    AccessVerdict verdict;
  } cases[] = {
      {"the work folder's list, seen from the elevated side", "O:" + user + "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;SY)", AccessVerdict::OthersMay},
      {"a setup program's sealed folder", "O:" + user + SealedFolderSddl(user), AccessVerdict::OnlyTrusted},
      {"owned by the player, no OWNER RIGHTS: may rewrite the list", "O:" + user + "D:P(A;;FA;;;SY)(A;;GR;;;BA)", AccessVerdict::OthersMay},
      {"OWNER RIGHTS that may write", "O:" + user + "D:P(A;;GR;;;BA)(A;;GA;;;OW)", AccessVerdict::OthersMay},
      {"owned by the administrators", "O:BAD:P(A;;GA;;;BA)(A;;GR;;;WD)", AccessVerdict::OnlyTrusted},
      {"everyone may write", "O:BAD:P(A;;GA;;;BA)(A;;GW;;;WD)", AccessVerdict::OthersMay},
      {"no list at all", "O:BA", AccessVerdict::OthersMay},
      {"only passed on to what is made inside", "O:BAD:P(A;;GA;;;BA)(A;OICIIO;GA;;;BU)", AccessVerdict::OnlyTrusted},
      {"a game folder as an administrator's installation leaves it",
       "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", AccessVerdict::OnlyTrusted},
      {"a game folder its users may write", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)",
       AccessVerdict::OthersMay},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
        << c.id;
    EXPECT_EQ(WhoMayChange(descriptor, kChangingRights), c.verdict) << c.id;
    LocalFree(descriptor);
  }

  // A setup program's folder: sealed once its program is in, and refused
  // when anything else got in first (a library it would load). Wine keeps a
  // file's list only as its POSIX mode: the list set is the one above.
  for (const bool planted : {false, true}) {
    const std::string dir = NewTempDir(planted ? "planted" : "sealed");
    ASSERT_TRUE(WriteFileBytes(dir + "setup.exe", "MZ"));
    if (planted) ASSERT_TRUE(WriteFileBytes(dir + "version.dll", "MZ"));
    FileHandle hold(CreateFileA(dir.c_str(), READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(hold);
    std::string why;
    EXPECT_EQ(SealFolder(hold.get(), dir, "setup.exe", why), !planted) << why;
    if (planted) EXPECT_EQ(why, "it holds version.dll beside the program");
  }
}

// Wine enforces no access list: what the maintenance service's pipe would
// let each caller do is read from the descriptor the real pipe holds.
TEST(Rights, ServiceChannelDeniesNetworkAndAnonymousCallers) {
  FileHandle server = CreateServicePipe(true);
  ASSERT_TRUE(server);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(server.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  const auto sid = [](WELL_KNOWN_SID_TYPE type) {
    std::string bytes(SECURITY_MAX_SID_SIZE, '\0');
    DWORD size = static_cast<DWORD>(bytes.size());
    CreateWellKnownSid(type, nullptr, bytes.data(), &size);
    return bytes;
  };
  std::string network = sid(WinNetworkSid), anonymous = sid(WinAnonymousSid),
                    interactive = sid(WinInteractiveSid), everyone = sid(WinWorldSid),
                    users = sid(WinAuthenticatedUserSid);
  bool allowedYet = false, networkDenied = false, anonymousDenied = false, interactiveAllowed = false;
  ASSERT_TRUE(dacl);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&header)));
    // Allowed and denied entries share their layout after the header.
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID who = const_cast<DWORD*>(&ace->SidStart);
    const DWORD mask = ace->Mask;
    const bool readWrite = (mask & GENERIC_ALL) || (mask & (FILE_READ_DATA | FILE_WRITE_DATA)) ==
                                                        (FILE_READ_DATA | FILE_WRITE_DATA);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      // Denials count only ahead of every allowing entry.
      EXPECT_FALSE(allowedYet);
      networkDenied |= EqualSid(who, network.data()) && readWrite;
      anonymousDenied |= EqualSid(who, anonymous.data()) && readWrite;
      continue;
    }
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
    allowedYet = true;
    for (std::string* stranger : {&network, &anonymous, &everyone, &users})
      EXPECT_FALSE(EqualSid(who, stranger->data())) << i;
    if (EqualSid(who, interactive.data())) {
      interactiveAllowed = (mask & (FILE_READ_DATA | FILE_WRITE_DATA)) == (FILE_READ_DATA | FILE_WRITE_DATA);
      EXPECT_EQ(mask & (kPipeOwningRights | GENERIC_ALL | GENERIC_WRITE), 0u);
    }
  }
  EXPECT_TRUE(networkDenied && anonymousDenied && interactiveAllowed);
  LocalFree(descriptor);

  // A caller's message arrives whole. (A second first instance of the name
  // is refused by Windows; Wine makes it.)
  std::string why;
  FileHandle caller = ConnectServicePipe(1000, why);
  ASSERT_TRUE(caller) << why;
  EXPECT_TRUE(ConnectNamedPipe(server.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  ASSERT_TRUE(WriteServiceMessage(caller.get(), "Update game"));
  std::string message;
  ASSERT_TRUE(ReadServiceMessage(server.get(), message));
  EXPECT_EQ(message, "Update game");
  caller.reset();
  server.reset();
  EXPECT_FALSE(ConnectServicePipe(0, why));
  EXPECT_EQ(why, "the maintenance service is not running");
}

}  // namespace
}  // namespace qz
