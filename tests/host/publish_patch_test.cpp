// Patch and full archives of the release tool: which files they hold, the
// names they get, and what the launcher's reader makes of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <sstream>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "format/delta_archive.h"
#include "publish/patch_plan.h"
#include "publish/publish_crypto.h"
#include "publish/publish_commands.h"
#include "publish/publish_error.h"
#include "tests/host/zip_test_support.h"
#include "zip/zip_archive.h"

namespace qz::publish {
namespace {

TreeItem File(const std::string& digest) { return {false, false, digest, 0}; }
TreeItem Folder(bool empty = false) { return {true, empty, "", 0}; }

std::string Names(const PatchPlan& plan) {
  std::string out;
  for (const ArchiveEntry& e : plan.entries) out += (out.empty() ? "" : " ") + e.zipName;
  return out;
}

TEST(PublishPlan, PatchHoldsNewAndChangedFilesAndNewEmptyFolders) {
  const Listing oldTree = {{"a.txt", File("1")},          {"data", Folder()},        {"data/b.txt", File("2")},
                           {"data/c.txt", File("3")},     {"gone", Folder()},        {"gone/x", File("4")},
                           {"kept", Folder(true)},        {"old.txt", File("5")}};
  const Listing newTree = {{"a.txt", File("1")},          {"data", Folder()},        {"data/b.txt", File("2*")},
                           {"data/c.txt", File("3")},     {"data/new.txt", File("6")}, {"empty", Folder(true)},
                           {"kept", Folder(true)},        {"deep", Folder()},        {"deep/er", Folder(true)}};
  const PatchPlan plan = PlanPatch(oldTree, newTree);
  EXPECT_EQ(Names(plan), "data/b.txt data/new.txt deep/er/ empty/");
  EXPECT_EQ(plan.onlyInOld, (std::vector<std::string>{"gone", "old.txt"})) << "a removed folder is named once";
  EXPECT_EQ(Names(PlanFull(newTree)), "a.txt data/b.txt data/c.txt data/new.txt deep/er/ empty/ kept/");
}

TEST(PublishPlan, RemovalsAreWhatWindowsNoLongerFindsFilesFirst) {
  const struct {
    const char* id;
    Listing oldTree, newTree;
    std::vector<std::string> removed;
  } cases[] = {
      {"file", {{"a.dll", File("1")}, {"b", File("2")}}, {{"b", File("2")}}, {"a.dll"}},
      {"case-only rename", {{"Data.dat", File("1")}}, {{"data.dat", File("1")}}, {}},
      {"folder case-only rename", {{"D", Folder()}, {"D/x", File("1")}}, {{"d", Folder()}, {"d/x", File("1")}}, {}},
      // Windows folds more than ASCII: the new file would be removed.
      {"fullwidth case-only rename", {{"\xef\xbc\xa1.txt", File("1")}}, {{"\xef\xbd\x81.txt", File("2")}}, {}},
      {"Cyrillic case-only rename", {{"\xd0\x9c.txt", File("1")}}, {{"\xd0\xbc.txt", File("1")}}, {}},
      {"folders after their files, deepest first",
       {{"g", Folder()}, {"g/h", Folder()}, {"g/h/x", File("1")}, {"g/y", File("2")}}, {},
       {"g/h/x", "g/y", "g/h/", "g/"}},
  };
  for (const auto& c : cases) EXPECT_EQ(PlanPatch(c.oldTree, c.newTree).removed, c.removed) << c.id;
}

TEST(PublishPlan, RefusesWhatAPatchCantDoOnWindows) {
  const struct {
    const char* id;
    Listing oldTree, newTree;
  } cases[] = {
      {"file becomes folder", {{"a", File("1")}}, {{"a", Folder(true)}}},
      {"folder becomes file", {{"a", Folder(true)}}, {{"a", File("1")}}},
      {"names differ in case only", {}, {{"Readme.txt", File("1")}, {"README.TXT", File("2")}}},
      {"names differ in fullwidth case only", {}, {{"\xef\xbc\xa1", File("1")}, {"\xef\xbd\x81", File("2")}}},
  };
  for (const auto& c : cases) EXPECT_THROW(PlanPatch(c.oldTree, c.newTree), PublishError) << c.id;
}

TEST(PublishPlan, NamesAreCodePage932AndFitWindows) {
  const struct {
    const char* path;
    const char* zipName;  // nullptr: refused
  } cases[] = {
      {"data/news.txt", "data/news.txt"},
      {"\xe8\xa1\xa8\xe7\xa4\xba.txt", "\x95\x5c\x8e\xa6.txt"},  // 表示: second byte is '\'
      {"\xef\xbd\x9e", "\x81\x60"},                              // full-width tilde, a Windows-only mapping
      {"caf\xc3\xa9.txt", nullptr},                              // é: no code page 932 form
      {"\xff.txt", nullptr},                                     // not UTF-8
      {"\xef\xbe\x83\xef\xbd\xa9", nullptr},                     // ﾃｩ: its bytes read as UTF-8 é
      {"a\\b.txt", nullptr},
      {"a:b", nullptr},
      {"ends.", nullptr},
      {"ends ", nullptr},
      {"CON", nullptr},
      {"data/com1.txt", nullptr},
      {"com10.txt", "com10.txt"},
      {"tab\t", nullptr},
      {"a//b", nullptr},
      {"../up", nullptr},
  };
  for (const auto& c : cases) {
    if (c.zipName) {
      EXPECT_EQ(ZipName(c.path, false), c.zipName) << c.path;
    } else {
      EXPECT_THROW(ZipName(c.path, false), PublishError) << c.path;
    }
  }
  EXPECT_NO_THROW(ZipName(std::string(255, 'a'), false));
  EXPECT_THROW(ZipName(std::string(256, 'a') + "/b", false), PublishError) << "the reader refuses parts over 255 bytes";
  EXPECT_THROW(ZipName(std::string(200, 'a') + "/" + std::string(60, 'b'), false), PublishError)
      << "no game folder leaves room for it";
  EXPECT_EQ(ZipName("d", true), "d/");
}

using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;

void Put(const std::string& path, const std::string& bytes, time_t modified) {
  WriteFile(path, bytes);
  const struct timeval times[2] = {{modified, 0}, {modified, 0}};
  utimes(path.c_str(), times);
}

int Publish(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
  std::ostringstream o, e;
  const int rc = RunPublish(args, o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return rc;
}

// Letters that deflate no better than about 5 bits each.
std::string Noise(std::size_t size) {
  std::string text(size, ' ');
  std::uint32_t state = 12345;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>('a' + (state >> 16) % 26);
  }
  return text;
}

// Two small release trees; the patch between them is unpacked by the reader
// over the old release, as the launcher does, and gives the new one.
TEST(PublishPatch, ReaderTurnsTheOldReleaseIntoTheNewOne) {
  TempDir dir;
  const std::string oldDir = dir / "old", newDir = dir / "new", game = dir / "game";
  const std::string kanji = "\xe8\xa1\xa8\xe7\xa4\xba";  // 表示
  const time_t then = 1600000000;                       // even, as DOS times are
  for (const std::string& root : {oldDir, newDir, game}) mkdir(root.c_str(), 0755);
  for (const std::string& root : {oldDir, game}) {
    mkdir((root + "/data").c_str(), 0755);
    Put(root + "/data/same.txt", "same", then);
    Put(root + "/data/changed.txt", Noise(8000) + "old text", then);
    Put(root + "/data/gone.txt", "only old", then);
  }
  mkdir((newDir + "/data").c_str(), 0755);
  mkdir((newDir + "/data/" + kanji).c_str(), 0755);
  mkdir((newDir + "/saves").c_str(), 0755);
  Put(newDir + "/data/same.txt", "same", then + 100);
  Put(newDir + "/data/changed.txt", Noise(8000) + "new text, longer", then + 2);
  Put(newDir + "/data/" + kanji + "/" + kanji + ".txt", std::string(5000, 'k'), then + 4);

  std::string out, err;
  ASSERT_EQ(Publish({"patch", oldDir, newDir, dir / "p.zip"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("added data/changed.txt\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("same.txt"), std::string::npos) << "an unchanged file is not in the patch: " << out;
  EXPECT_NE(out.find("removed data/gone.txt\n"), std::string::npos) << "the removal is named: " << out;

  CZipArchive zip;
  zip.Open(dir / "p.zip");
  std::set<std::string> names;
  for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) {
    CZipEntryInfo info;
    ASSERT_TRUE(zip.GetEntryInfo(info, i));
    names.insert(info.GetName());
    EXPECT_EQ(info.flags & 0x0800, 0) << "no UTF-8 flag: " << info.GetName();
    if (!info.IsDirectory()) EXPECT_EQ(info.method, CZipEntryInfo::methodDeflated) << info.GetName();
    EXPECT_TRUE(zip.ExtractEntry(i, (game + "/").c_str())) << info.GetName();
  }
  zip.Close();
  const std::string kanji932 = "\x95\x5c\x8e\xa6";
  EXPECT_EQ(names, (std::set<std::string>{"data\\changed.txt", "data\\" + kanji932 + "\\" + kanji932 + ".txt",
                                          "saves\\", kRemovedListName}));
  EXPECT_EQ(ReadFile(game + "/" + kRemovedListName), "data/gone.txt\n") << "older launchers keep it as a text";

  // The delta archive beside it turns the old files into the new ones.
  const std::string archive = ReadFile(dir / "p.qzd");
  const DeltaReading delta = ReadDeltaIndex(archive, archive.size());
  ASSERT_TRUE(delta.index) << delta.problem;
  EXPECT_EQ(delta.index->removed, std::vector<std::string>{"data/gone.txt"});
  ASSERT_EQ(delta.index->patches.size(), 2u);
  // Small files travel in one frame: their bases one after the other give
  // their results one after the other.
  std::string bases, results;
  for (const DeltaPatch& p : delta.index->patches) {
    bases += p.baseBytes ? ReadFile(oldDir + "/" + p.name) : std::string();
  }
  for (const DeltaPatch& p : delta.index->patches) results += std::string(p.resultBytes, '\0');
  EXPECT_EQ(delta.index->patches[1].frameBytes, 0u) << "in the frame of the patch before";
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  ZSTD_DCtx_setParameter(dctx, ZSTD_d_format, ZSTD_f_zstd1_magicless);
  ZSTD_DCtx_refPrefix(dctx, bases.data(), bases.size());
  const DeltaPatch& first = delta.index->patches[0];
  const size_t n = ZSTD_decompressDCtx(dctx, &results[0], results.size(), archive.data() + first.frameOffset,
                                       first.frameBytes);
  ZSTD_freeDCtx(dctx);
  ASSERT_EQ(n, results.size()) << (ZSTD_isError(n) ? ZSTD_getErrorName(n) : "");
  Put(dir / "bases", bases, then);
  Put(dir / "results", results, then);
  EXPECT_EQ(delta.index->basesSha256, *ParseSha256Hex(Sha256OfFile(dir / "bases")));
  EXPECT_EQ(delta.index->resultsSha256, *ParseSha256Hex(Sha256OfFile(dir / "results")));
  EXPECT_EQ(delta.index->patches[0].name, "data/changed.txt");
  // The POSIX reader stands for a code page 932 system: names stay as stored.
  EXPECT_EQ(ReadFile(game + "/data/" + kanji932 + "/" + kanji932 + ".txt"), std::string(5000, 'k'));
  EXPECT_EQ(ReadFile(game + "/data/changed.txt"), Noise(8000) + "new text, longer");
  EXPECT_EQ(ReadFile(game + "/data/same.txt"), "same");
  struct stat st;
  ASSERT_EQ(stat((game + "/data/changed.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, then + 2) << "modification time kept";
  ASSERT_EQ(stat((game + "/saves").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << "the new empty folder is made";
}

// What once aborted or shipped a useless delta: files dated before 1980, a
// release that only removes files, a delta no smaller than the patch.
TEST(PublishPatch, OddDatesRemovalsOnlyAndDeltasThatSaveNothing) {
  TempDir dir;
  for (const char* v : {"old", "new"}) mkdir((dir / v).c_str(), 0755);
  Put(dir / "old/a.txt", "a", 0);
  Put(dir / "old/gone.txt", "g", 86400);
  Put(dir / "new/a.txt", "a", 0);
  std::string out, err;
  ASSERT_EQ(Publish({"full", dir / "old", dir / "full.zip"}, &out, &err), 0) << err;
  ASSERT_EQ(Publish({"patch", dir / "old", dir / "new", dir / "removes.zip", "--json"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("\"noDelta\":\"it would take "), std::string::npos) << out;
  EXPECT_FALSE(ziptest::Exists(dir / "removes.qzd")) << "saves less than 1 KiB: players take the patch";
  Put(dir / "new/a.txt", "changed", 1700000000);
  ASSERT_EQ(Publish({"patch", dir / "old", dir / "new", dir / "small.zip"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("no delta archive: it would take "), std::string::npos) << out;
  EXPECT_NE(out.find("at least 5 % and 1024 bytes"), std::string::npos) << out;
}

TEST(PublishPatch, FullArchiveHoldsTheWholeTree) {
  TempDir dir;
  mkdir((dir / "m").c_str(), 0755);
  mkdir((dir / "m/Veltoworks").c_str(), 0755);
  mkdir((dir / "m/Veltoworks/Avatar").c_str(), 0755);
  WriteFile(dir / "m/Veltoworks/Avatar/Mirrafig.dll", "MZ module");
  ASSERT_EQ(Publish({"full", dir / "m", dir / "m.zip"}), 0);
  CZipArchive zip;
  zip.Open(dir / "m.zip");
  ASSERT_EQ(zip.GetEntryCount(), 1);
  mkdir((dir / "out").c_str(), 0755);
  EXPECT_TRUE(zip.ExtractEntry(0, (dir / "out/").c_str()));
  zip.Close();
  EXPECT_EQ(ReadFile(dir / "out/Veltoworks/Avatar/Mirrafig.dll"), "MZ module");
}

// The same folder gives the same bytes with --mtime, whatever the files'
// times, the order they were made in and the machine's time zone.
TEST(PublishPatch, FixedTimeGivesTheSameBytes) {
  TempDir dir;
  const time_t fixed = 1700000000;
  const struct {
    const char* folder;
    const char* zone;
    time_t then;
    std::vector<std::string> order;
  } runs[] = {{"a", "UTC0", 1600000000, {"x", "s", "s/y", "s/z"}}, {"b", "JST-9", 1650000002, {"s", "s/z", "s/y", "x"}}};
  const char* zone = getenv("TZ");
  const std::string savedZone = zone ? zone : "";
  std::string bytes[2];
  for (int k = 0; k < 2; ++k) {
    const std::string root = dir / runs[k].folder;
    mkdir(root.c_str(), 0755);
    for (const std::string& name : runs[k].order) {
      if (name == "s") mkdir((root + "/s").c_str(), 0755);
      else Put(root + "/" + name, "content of " + name, runs[k].then);
    }
    setenv("TZ", runs[k].zone, 1);
    tzset();
    std::string err;
    ASSERT_EQ(Publish({"full", root, root + ".zip", "--mtime", std::to_string(fixed)}, nullptr, &err), 0) << err;
    bytes[k] = ReadFile(root + ".zip");
  }
  if (zone) setenv("TZ", savedZone.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  EXPECT_EQ(bytes[0], bytes[1]);
  mkdir((dir / "out").c_str(), 0755);
  CZipArchive zip;
  zip.Open(dir / "a.zip");
  EXPECT_TRUE(zip.ExtractEntry(0, (dir / "out/").c_str()));
  zip.Close();
  struct stat st;
  ASSERT_EQ(stat((dir / "out/s/y").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, fixed) << "the entry carries the fixed time";

  // Backwards only when asked.
  Put(dir / "a/new", "new", fixed);
  EXPECT_EQ(Publish({"patch", dir / "b", dir / "a", dir / "down.zip", "--from", "3", "--to", "2"}), 2);
  EXPECT_EQ(Publish({"patch", dir / "b", dir / "a", dir / "down.zip", "--from", "3", "--to", "2", "--allow-downgrade"}),
            0);
}

TEST(PublishPatch, ArchiveOfMoreThan65535FilesIsZip64) {
  // libzip writes the zip64 end record once the count needs it; the reader
  // takes every entry.
  TempDir dir;
  const int count = 65600;
  mkdir((dir / "m").c_str(), 0755);
  for (int folder = 0; folder < 40; ++folder) mkdir((dir / ("m/" + std::to_string(folder))).c_str(), 0755);
  for (int i = 0; i < count; ++i) WriteFile(dir / ("m/" + std::to_string(i % 40) + "/" + std::to_string(i)), "");
  WriteFile(dir / "m/last.txt", "last");
  ASSERT_EQ(Publish({"full", dir / "m", dir / "m.zip"}), 0);
  EXPECT_NE(ReadFile(dir / "m.zip").find(std::string("PK\x06\x06", 4)), std::string::npos) << "zip64 end record";
  CZipArchive zip;
  zip.Open(dir / "m.zip");
  ASSERT_EQ(zip.GetEntryCount(), count + 1);
  CZipEntryInfo info;
  for (uint32_t i = 0; i < static_cast<uint32_t>(zip.GetEntryCount()); ++i) {
    ASSERT_TRUE(zip.GetEntryInfo(info, i));
    if (info.GetName() == "last.txt") break;
  }
  EXPECT_EQ(info.GetName(), "last.txt");
}

}  // namespace
}  // namespace qz::publish
