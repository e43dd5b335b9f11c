// The delta archive's index and the removed-list entry, as the launcher reads
// what the release tool writes.
#include <gtest/gtest.h>

#include <string>

#include "format/delta_archive.h"

namespace qz {
namespace {

TEST(DeltaArchive, WrittenIndexReadsBackWithFrameOffsets) {
  DeltaIndex index;
  index.patches = {{"data/a b.dat", 10, Sha256Digest{1}, 12, Sha256Digest{2}, 3, 0},
                   {"game.exe", 5, Sha256Digest{3}, 5, Sha256Digest{4}, 4, 0}};
  index.removed = {"old/x.dll", "old/"};
  const std::string head = DeltaIndexText(index);
  const std::string archive = head + "abc" + "defg";
  const DeltaReading r = ReadDeltaIndex(archive, archive.size());
  ASSERT_TRUE(r.index) << r.problem;
  EXPECT_EQ(r.index->patches[0].name, "data/a b.dat");
  EXPECT_EQ(r.index->patches[0].frameOffset, head.size());
  EXPECT_EQ(r.index->patches[1].frameOffset, head.size() + 3);
  EXPECT_EQ(r.index->patches[1].resultSha256, Sha256Digest{4});
  EXPECT_EQ(r.index->removed, index.removed);
  EXPECT_FALSE(ReadDeltaIndex(archive + "x", archive.size() + 1).index) << "bytes after the last frame";
  EXPECT_FALSE(ReadDeltaIndex(archive.substr(0, archive.size() - 1), archive.size() - 1).index) << "cut short";
}

TEST(DeltaArchive, NamesAndLinesTheLauncherRefuses) {
  const std::string h(64, 'a');
  const std::string p = "patch 1 " + h + " 1 " + h + " 1 ";
  struct Case {
    const char* id;
    std::string lines;  // between the magic line and "end"
    bool refused;
  } cases[] = {
      {"plain removal", "remove data/old.dat\n", false},
      {"removed folder after its file", "remove d/f\nremove d/\n", false},
      {"climbs out", "remove ../outside.txt\n", true},
      {"climbs out midway", "remove data/../../x\n", true},
      {"rooted", "remove /etc/x\n", true},
      {"backslash rooted", "remove \\Windows\\x\n", true},
      {"drive", "remove C:/x\n", true},
      {"empty part", "remove a//b\n", true},
      {"dot part", "remove ./a\n", true},
      {"control character", "remove a\tb\n", true},
      {"the list's own name", std::string("remove ") + kRemovedListName + "\n", true},
      {"twice in two cases", "remove Data.dat\nremove data.DAT\n", true},
      {"patched and removed", p + "a\nremove a\n", true},
      {"patch after removals", "remove b\n" + p + "a\n", true},
      {"patch of a folder", p + "a/\n", true},
      {"empty frame", "patch 1 " + h + " 1 " + h + " 0 a\n", true},
      {"short hash", "patch 1 " + h.substr(1) + " 1 " + h + " 1 a\n", true},
      {"negative size", "patch -1 " + h + " 1 " + h + " 1 a\n", true},
      {"unknown line", "rename a b\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::size_t frames = c.lines.find("patch") == 0 && !c.refused ? 1 : (c.lines.find(p) != std::string::npos ? 1 : 0);
    const std::string archive = std::string(kDeltaMagic) + c.lines + "end\n" + std::string(frames, 'z');
    const DeltaReading r = ReadDeltaIndex(archive, archive.size());
    EXPECT_EQ(!r.index, c.refused) << r.problem;
    if (c.refused) EXPECT_FALSE(r.problem.empty());
    // The whole-file patch's list follows the same name rules.
    if (c.lines.rfind("remove", 0) == 0 && c.lines.find(p) == std::string::npos) {
      std::string list = c.lines;
      for (std::size_t at = list.find("remove "); at != std::string::npos; at = list.find("remove ")) list.erase(at, 7);
      EXPECT_EQ(!ReadRemovedList(list), c.refused);
    }
  }
  EXPECT_FALSE(ReadDeltaIndex("QZDELTA 1\nremove a\n", 19).index) << "no end line";
  EXPECT_FALSE(ReadDeltaIndex("PK\x03\x04", 4).index) << "not a delta archive";
}

}  // namespace
}  // namespace qz
