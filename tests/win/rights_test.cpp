// What the launcher's own token may write, as it asks before a change: the
// place itself when it is there, else the nearest folder above it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include "base/rights.h"
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

}  // namespace
}  // namespace qz
