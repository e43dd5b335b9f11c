// What the launcher's own token may write, as it asks before a change: the
// place itself when it is there, else the nearest folder above it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include "base/access_list.h"
#include "base/private_folder.h"
#include "base/rights.h"
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

}  // namespace
}  // namespace qz
