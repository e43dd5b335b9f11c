// An administrator's change writing where the player may write too: a link
// the player planted in the game's folder must not send the release, or a
// deletion, anywhere else. The CTest set-up made real links on the host (a
// host's symbolic link shows as a reparse point under Wine):
//   game\real\a.txt            a file of the game
//   game\link -> ..\outside    a planted link to another folder
//   outside\a.txt              what the link leads to
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "base/guarded_write.h"
#include "base/win_handles.h"
#include "tests/common/zip_builder.h"
#include "update/delta_apply.h"
#include "tests/winsupport/win_test_support.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace qz {
namespace {

using namespace qz::test;

TEST(GuardedWrites, NothingGoesThroughALinkThePlayerPlanted) {
  const char* probe = std::getenv("QZ_GUARD_PROBE");
  if (!probe) GTEST_SKIP() << "runs through its CTest set-up, which makes the links";
  const std::string root = std::string(probe) + "\\";
  const std::string game = root + "game\\";
  ASSERT_EQ(ReadFileBytes(game + "link\\a.txt"), "outside") << "the set-up made no link";
  GuardWrites();

  auto opened = [](const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && OpenedAsNamed(file.get(), path, true);
  };
  EXPECT_TRUE(opened(game + "real\\a.txt"));
  EXPECT_TRUE(opened(game + "REAL\\A.TXT")) << "another spelling of the same file";
  EXPECT_FALSE(opened(game + "link\\a.txt")) << "reached through the link";
  EXPECT_FALSE(opened(game + "link")) << "the link itself";
  // A second name of another file: writing it would change that file.
  ASSERT_TRUE(CreateHardLinkA((game + "real\\twin.txt").c_str(), (root + "outside\\a.txt").c_str(), nullptr));
  EXPECT_FALSE(opened(game + "real\\twin.txt"));

  // An archive whose entries lie below the link: nothing is written outside.
  const std::string zip = root + "release.zip";
  ASSERT_TRUE(WriteFileBytes(
      zip, ziptest::ZipBuilder().File("link/a.txt", "released").File("link/new/b.txt", "released").Build()));
  for (std::uint32_t index : {0u, 1u}) {
    SCOPED_TRACE(index);
    CZipArchive archive;
    archive.Open(zip.c_str(), CZipArchive::zipOpenReadOnly, 0);
    bool extracted = true;
    try {
      extracted = archive.ExtractEntry(index, game.c_str(), true, nullptr, 65536);
    } catch (const CZipException&) {
      extracted = false;
    }
    archive.Close(1, false);
    EXPECT_FALSE(extracted);
  }
  EXPECT_EQ(ReadFileBytes(root + "outside\\a.txt"), "outside");
  EXPECT_FALSE(FileExists(root + "outside\\new\\b.txt"));

  // A delta's result file beside a target below the link is not made; a
  // planted link where it would stand is neither followed nor removed.
  EXPECT_EQ(CreateNewAsNamed(game + "link\\a.txt.qzdnew", GENERIC_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FileExists(root + "outside\\a.txt.qzdnew"));
  EXPECT_EQ(CreateNewAsNamed(game + "link", GENERIC_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadFileBytes(game + "link\\a.txt"), "outside");

  // A listed removal through the link removes nothing; one in the folder does.
  EXPECT_FALSE(DeleteThroughHandle(game + "link\\a.txt", false));
  RemoveListed({"link/a.txt", "link"}, game, {});
  EXPECT_TRUE(FileExists(root + "outside\\a.txt"));
  EXPECT_TRUE(FileExists(game + "link\\a.txt")) << "the link stays";
  ASSERT_TRUE(SetFileAttributesA((game + "real\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteThroughHandle(game + "real\\a.txt", false));
  EXPECT_FALSE(FileExists(game + "real\\a.txt"));
}

}  // namespace
}  // namespace qz
