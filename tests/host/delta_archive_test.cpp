// The delta archive's index and the removed-list entry, as the launcher reads
// what the release tool writes; and names compared as Windows compares them.
#include <gtest/gtest.h>

#include <string>

#include "format/delta_archive.h"
#include "format/name_case.h"

namespace qz {
namespace {

DeltaPatch Patch(std::string name, std::uint64_t baseBytes = 1, std::uint64_t frameBytes = 1) {
  return {std::move(name), baseBytes, 1, frameBytes, 0};
}

std::string Archive(const DeltaIndex& index) {
  std::uint64_t frames = 0;
  for (const DeltaPatch& p : index.patches) frames += p.frameBytes;
  return DeltaIndexBytes(index) + std::string(static_cast<std::size_t>(frames), 'z');
}

TEST(DeltaArchive, WrittenIndexReadsBackWithFrameOffsets) {
  DeltaIndex index;
  index.patches = {{"data/a b.dat", 10, 12, 3, 0}, {"data/added.dat", 0, 5, 4, 0}};
  index.removed = {"data/old/x.dll", "data/old/"};
  index.basesSha256 = Sha256Digest{1};
  index.resultsSha256 = Sha256Digest{2};
  const std::string head = DeltaIndexBytes(index);
  const std::string archive = head + "abc" + "defg";
  const DeltaReading r = ReadDeltaIndex(archive, archive.size());
  ASSERT_TRUE(r.index) << r.problem;
  EXPECT_EQ(r.index->patches[0].name, "data/a b.dat");
  EXPECT_EQ(r.index->patches[0].baseBytes, 10u);
  EXPECT_EQ(r.index->patches[0].frameOffset, head.size());
  EXPECT_EQ(r.index->patches[1].name, "data/added.dat") << "front-coded against the name before";
  EXPECT_EQ(r.index->patches[1].resultBytes, 5u);
  EXPECT_EQ(r.index->patches[1].frameOffset, head.size() + 3);
  // A patch that continues a run has the frame of the patch before.
  index.patches[1].frameBytes = 0;
  const std::string run = DeltaIndexBytes(index) + "abc";
  const DeltaReading inRun = ReadDeltaIndex(run, run.size());
  ASSERT_TRUE(inRun.index) << inRun.problem;
  EXPECT_EQ(inRun.index->patches[1].frameOffset, inRun.index->patches[0].frameOffset);
  EXPECT_EQ(r.index->basesSha256, Sha256Digest{1});
  EXPECT_EQ(r.index->resultsSha256, Sha256Digest{2});
  EXPECT_EQ(r.index->removed, index.removed);
  // Two digests for the release and shared name parts: a few bytes a file
  // besides its name (the text form took two hex digests a file).
  EXPECT_LT(head.size(), 10u + 2 * 32 + 50);
}

TEST(DeltaArchive, IndexesTheLauncherRefuses) {
  const std::string good = Archive({{Patch("a")}, {"b"}});
  const std::string magic = std::string(kDeltaMagicPrefix) + "2\n";
  struct Case {
    const char* id;
    std::string archive;
    const char* problem;  // a part of the reason the log gives
  } cases[] = {
      {"plain removal", Archive({{}, {"data/old.dat"}}), nullptr},
      {"removed folder after its file", Archive({{}, {"d/f", "d/"}}), nullptr},
      {"climbs out", Archive({{}, {"../outside.txt"}}), "may not be used"},
      {"climbs out midway", Archive({{}, {"data/../../x"}}), "may not be used"},
      {"rooted", Archive({{}, {"/etc/x"}}), "may not be used"},
      {"backslash rooted", Archive({{}, {"\\Windows\\x"}}), "may not be used"},
      {"drive", Archive({{}, {"C:/x"}}), "may not be used"},
      {"empty part", Archive({{}, {"a//b"}}), "may not be used"},
      {"dot part", Archive({{}, {"./a"}}), "may not be used"},
      {"control character", Archive({{}, {"a\tb"}}), "may not be used"},
      {"the list's own name", Archive({{}, {kRemovedListName}}), "may not be used"},
      {"twice in two cases", Archive({{}, {"Data.dat", "data.DAT"}}), "twice"},
      {"patched and removed", Archive({{Patch("a")}, {"a"}}), "twice"},
      {"patch of a folder", Archive({{Patch("a/")}, {}}), "folder"},
      {"first patch in no frame", Archive({{Patch("a", 1, 0)}, {}}), "in no frame"},
      {"run of small files", Archive({{Patch("a"), Patch("b", 1, 0), Patch("c", 1, 0)}, {}}), nullptr},
      {"large file in a run", Archive({{Patch("a"), Patch("b", kMaxDeltaRunFile + 1, 0)}, {}}), "over the limits"},
      {"large file alone", Archive({{Patch("a"), Patch("b", kMaxDeltaRunFile + 1, 1)}, {}}), nullptr},
      {"an unknown version", std::string(kDeltaMagicPrefix) + "3\n" + good.substr(magic.size()), "version 3 is not known"},
      {"the text index of old", "QZDELTA 1\nremove a\nend\n", "version 1 is not known"},
      {"not a delta archive", "PK\x03\x04", "not a delta archive"},
      {"bytes after the last frame", good + "x", "do not fill"},
      {"frames cut short", good.substr(0, good.size() - 1), "do not fill"},
      {"index cut short", good.substr(0, magic.size() + 3), "cut short"},
      {"index size past the end", magic + "\xff\xff\xff\x7f", "cut short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const DeltaReading r = ReadDeltaIndex(c.archive, c.archive.size());
    EXPECT_EQ(!r.index, c.problem != nullptr) << r.problem;
    if (c.problem) EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
  }
  // The whole-file patch's list follows the same name rules.
  EXPECT_TRUE(ReadRemovedList("d/f\r\nd/\n"));
  for (const char* list : {"../x\n", "a//b\n", "Data.dat\ndata.DAT\n", "~qzremoved.txt\n"}) {
    EXPECT_FALSE(ReadRemovedList(list)) << list;
  }
}

// One table per case kind Windows' file system folds (or does not).
TEST(NameCase, FoldsAsWindowsFileNames) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"Data/Readme.TXT", "data/readme.txt", true},
      {"\xef\xbc\xa1.txt", "\xef\xbd\x81.txt", true},                 // fullwidth Ａ, ａ
      {"\xce\xa3\xce\xb9\xce\xb1", "\xcf\x83\xce\x99\xce\x91", true},  // Greek Σια, σΙΑ
      {"\xcf\x82", "\xce\xa3", true},                                  // final sigma ς folds to Σ
      {"\xd0\x9c\xd0\xb8\xd1\x80", "\xd0\xbc\xd0\x98\xd0\xa0", true},  // Cyrillic Мир, мИР
      {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", true},                // été, ÉTÉ
      {"\xe8\xa1\xa8", "\xe8\xa1\xa8", true},                          // 表 has no case: equal only to itself
      {"\xe8\xa1\xa8", "\xe8\xa1\xa9", false},
      {"1.txt", "\xef\xbc\x91.txt", false},                            // fullwidth digit is another character
      {"a.txt", "\xef\xbd\x81.txt", false},                            // ASCII a is not fullwidth ａ
      {"\xc4\xb1", "I", false},                                        // dotless ı stays apart from ASCII
      {"\xc3\x9f", "SS", false},                                       // ß: no one-to-one uppercase
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", true},                  // beyond the BMP: itself
      {"a\xff", "A\xff", false},                                       // not UTF-8: never the same
  };
  for (const auto& c : cases) EXPECT_EQ(SameFileName(c.a, c.b), c.same) << c.a << " / " << c.b;
  EXPECT_EQ(UpcaseUnit(u'\u00FF'), u'\u0178');  // ÿ to Ÿ, out of its block
  EXPECT_EQ(UpcaseUnit(u'\u2170'), u'\u2160');  // small roman numeral one
  EXPECT_EQ(UpcaseUnit(u'Z'), u'Z');
}

}  // namespace
}  // namespace qz
