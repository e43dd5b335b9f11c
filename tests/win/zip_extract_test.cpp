// The zip reader on Windows: what lands on disk (names in code page 932,
// folders, attributes, times), what is refused, and that no handle outlives
// an extraction.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "tests/common/zip_builder.h"
#include "tests/winsupport/win_test_support.h"
#include "base/win_text.h"
#include "ui/texts.h"
#include "ui/worker_words.h"
#include "update/download_worker.h"
#include "zip/zip_archive.h"
#include "zip/zip_system.h"

namespace qz {
namespace {

using namespace qz::test;
using namespace ziptest;

std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                  static_cast<int>(wide.size())));
  return wide;
}

// Every file and folder below root, relative to it, as UTF-16.
void ListInto(const std::wstring& root, const std::wstring& relative, std::set<std::wstring>& found) {
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileW((root + relative + L"*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    found.insert(relative + name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListInto(root, relative + name + L"\\", found);
  } while (FindNextFileW(find.get(), &data));
}

std::set<std::wstring> ListTree(const std::string& root) {
  std::set<std::wstring> found;
  ListInto(Wide(root), L"", found);
  return found;
}

CZipException CatchZip(const std::function<void()>& f) {
  try {
    f();
  } catch (const CZipException& e) {
    return e;
  }
  ADD_FAILURE() << "expected a CZipException";
  return CZipException(-1);
}

class ZipWinExtract : public ::testing::Test {
 protected:
  void Open(const std::string& archive) {
    ASSERT_TRUE(WriteFileBytes(archivePath, archive));
    zip.Open(archivePath);
  }
  void Reopen() {
    zip.Close(1);
    zip.Open(archivePath);
  }
  void TearDown() override { zip.Close(1); }

  const std::string dir = NewTempDir("zip");
  const std::string archivePath = dir + "test.zip";
  const std::string dest = dir + "out\\";
  CZipArchive zip;
};

ZipEntryPlan Entry(const std::string& name, uint16_t versionMadeBy, uint32_t externalAttributes) {
  ZipEntryPlan e;
  e.name = name;
  e.data = name.back() == '/' ? "" : "contents of " + name;
  e.versionMadeBy = versionMadeBy;
  e.externalAttributes = externalAttributes;
  return e;
}

TEST_F(ZipWinExtract, AttributesFollowTheEntrysHost) {
  const struct {
    const char* name;
    uint16_t versionMadeBy;
    uint32_t external;
    DWORD attributes;
  } cases[] = {
      {"rw-r--r--", 0x0314, 0100644u << 16, 0x20},
      {"r--r--r--", 0x0314, 0100444u << 16, 0x21},
      {"-w------- hides", 0x0314, 0100200u << 16, 0x22},
      {"rwxr-xr-x folder/", 0x0314, (0040755u << 16) | 0x10, 0x10},
      {"ms-dos read-only", 0x0014, 0x21, 0x21},
      {"ntfs hidden", 0x0A14, 0x22, 0x22},
      {"ntfs read-only, as compressed folders write it", 0x0B14, 0x21, 0x21},
      {"ms-dos folder without attributes/", 0x0014, 0, 0x10},
  };
  ZipBuilder b;
  for (const auto& c : cases) b.Add(Entry(c.name, c.versionMadeBy, c.external));
  Open(b.Build());
  for (uint16_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str()));
    std::string path = dest + c.name;
    if (path.back() == '/') path.pop_back();
    EXPECT_EQ(GetFileAttributesA(path.c_str()), c.attributes);
  }
}

TEST_F(ZipWinExtract, UnknownHostGetsAUnixModeWhateverThePlatformMakesOfIt) {
  // Host 12 has no conversion: 0x81A40020 is handed to the platform, which
  // may refuse it; the data is written either way, and the result says so.
  const std::string probe = dir + "probe";
  ASSERT_TRUE(WriteFileBytes(probe, "p"));
  const bool platformTakesIt = SetFileAttributesA(probe.c_str(), 0x81A40020) != FALSE;

  ZipEntryPlan e = Entry("host12.dat", 0x0C14, 0x12345678);
  e.data = TextLike(100000, 1);
  Open(ZipBuilder().Add(e).Build());
  CZipEntryInfo info;
  ASSERT_TRUE(zip.GetEntryInfo(info, 0));
  EXPECT_EQ(info.GetSystemAttributes(), 0x81A40020u);
  EXPECT_EQ(zip.ExtractEntry(0, dest.c_str()), platformTakesIt);
  EXPECT_EQ(ReadFileBytes(dest + "host12.dat"), e.data);
  EXPECT_FALSE(GetFileAttributesA((dest + "host12.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ZipWinExtract, ReadOnlyTargetIsRefusedWith13) {
  ZipBuilder b;
  b.File("a.txt", "new").Add(Entry("ro.txt", 0x0314, 0100444u << 16));
  Open(b.Build());
  const std::string target = dest + "a.txt";
  ASSERT_TRUE(WriteFileBytes(target, "old contents, longer than the new"));
  EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
  EXPECT_EQ(ReadFileBytes(target), "new") << "replaced, not overwritten in place";

  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  CZipException e = CatchZip([&] { zip.ExtractEntry(0, dest.c_str()); });
  EXPECT_EQ(e.cause, 13);
  EXPECT_EQ(e.fileName, target);
  EXPECT_EQ(ReadFileBytes(target), "new");

  // A read-only entry extracted once blocks the next upgrade until its
  // attribute is cleared, as the download worker does. After an error the
  // archive is closed and opened again, as the worker would.
  Reopen();
  EXPECT_TRUE(zip.ExtractEntry(1, dest.c_str()));
  EXPECT_EQ(CatchZip([&] { zip.ExtractEntry(1, dest.c_str()); }).cause, 13);
  Reopen();
  ASSERT_TRUE(SetFileAttributesA((dest + "ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(zip.ExtractEntry(1, dest.c_str()));
}

uint64_t Ticks(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

TEST_F(ZipWinExtract, FileTimeIsTheEntrysTimeAsLocalTime) {
  const struct {
    const char* id;
    uint16_t date, time;
  } cases[] = {
      {"leap day, last even second", DosDate(2004, 2, 29), DosTime(23, 59, 58)},
      {"earliest DOS time", DosDate(1980, 1, 1), DosTime(0, 0, 0)},
      {"summer", DosDate(2021, 7, 15), DosTime(12, 30, 4)},
  };
  ZipBuilder b;
  for (const auto& c : cases) {
    ZipEntryPlan e = Entry(std::string(c.id) + ".txt", 0x0014, 0x20);
    e.modDate = c.date;
    e.modTime = c.time;
    b.Add(e);
  }
  Open(b.Build());
  for (uint16_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.id);
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ASSERT_TRUE(zip.ExtractEntry(i, dest.c_str()));
    FILETIME local, expected, access, write;
    ASSERT_TRUE(DosDateTimeToFileTime(c.date, c.time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
    FileHandle file(CreateFileA((dest + c.id + ".txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(GetFileTime(file.get(), nullptr, &access, &write));
    EXPECT_EQ(Ticks(write), Ticks(expected));
    EXPECT_GE(Ticks(access) + 10000000, Ticks(before)) << "last access is the time of extraction";
  }
}

TEST_F(ZipWinExtract, CreatesFoldersAndDropsTrailingDots) {
  ZipBuilder b;
  b.Folder("data/").File("data/sound/bgm/title.dat", "bgm").File("file.", "dot").File(".profile", "p");
  b.File("a.b.", "ab").Folder("empty/deep/").File("deep/er/still/x.txt", "x");
  Open(b.Build());
  for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
  EXPECT_EQ(ReadFileBytes(dest + "data\\sound\\bgm\\title.dat"), "bgm");
  EXPECT_EQ(ReadFileBytes(dest + "file"), "dot");
  EXPECT_EQ(ListTree(dest), (std::set<std::wstring>{L"data", L"data\\sound", L"data\\sound\\bgm",
                                                    L"data\\sound\\bgm\\title.dat", L"file", L".profile", L"a.b",
                                                    L"empty", L"empty\\deep", L"deep", L"deep\\er",
                                                    L"deep\\er\\still", L"deep\\er\\still\\x.txt"}));
}

// Every path the system must look up costs a pass through the file-system
// filters on Windows: a file is opened once, with its time and attributes
// set through that handle, and each folder is asked for once per archive.
TEST_F(ZipWinExtract, EachFileIsOpenedOnceAndEachFolderAskedForOnce) {
  ZipBuilder b;
  for (int i = 0; i < 4; ++i) b.File("a/" + std::to_string(i), "a").File("b/c/" + std::to_string(i), "c");
  b.Add(Entry("ro", 0x0314, 0100444u << 16));
  Open(b.Build());
  zip.SetReplaceReadOnly(true);
  auto extractAll = [&] {
    const uint64_t before = ZipSystem::PathCallCount();
    for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
    return ZipSystem::PathCallCount() - before;
  };
  // out\, a\, b\ and b\c\ are made (a lookup and a creation each) below a
  // folder that exists (one lookup).
  EXPECT_EQ(extractAll(), 9u + 4 * 2 + 1);
  EXPECT_EQ(GetFileAttributesA((dest + "ro").c_str()),
            DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  // Again, replacing every file, the read-only one included: the folders
  // are known, each file costs its open (a refused open of the read-only
  // one on Windows adds a look at its attributes, a change and a retry).
  const uint64_t again = extractAll();
  EXPECT_TRUE(again == 9u || again == 9u + 3) << again;
  EXPECT_EQ(ReadFileBytes(dest + "b\\c\\3"), "c");
}
TEST_F(ZipWinExtract, OemNamesLandAsTheirCodePage932Characters) {
  ASSERT_EQ(GetACP(), 932u) << "the tests run with LC_ALL=ja_JP.UTF-8";
  ASSERT_EQ(GetOEMCP(), 932u);
  const struct {
    const char* id;
    std::string name;  // as stored, code page 932
    uint16_t versionMadeBy;
    const wchar_t* listed;
  } cases[] = {
      {"0x5C trail bytes in folder and file", "\x83\x5C\x83\x74\x83\x67/\x95\x5C.txt", 0x0014,
       L"ソフト\\表.txt"},
      {"folder entry", "\x83\x66\x81\x5B\x83\x5E/", 0x0014, L"データ"},
      {"file in that folder ending in 0x5C", "\x83\x66\x81\x5B\x83\x5E/\x83\x5C", 0x0014, L"データ\\ソ"},
      {"half-width katakana", "\xB1\xB2\xB3.dat", 0x0014, L"ｱｲｳ.dat"},
      {"unix host, not converted", "\x8A\xBF\x8E\x9A.txt", 0x0314, L"漢字.txt"},
      // Flagged as UTF-8 (bit 11): テスト/表.py, whatever the host.
      {"UTF-8 in a folder", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\xE8\xA1\xA8.py", 0x0014, L"テスト\\表.py"},
  };
  ZipBuilder b;
  for (const auto& c : cases) {
    ZipEntryPlan e = Entry(c.name, c.versionMadeBy, c.name.back() == '/' ? 0x10 : 0x20);
    if (c.name[0] == '\xE3') e.flags = CZipEntryInfo::flagUtf8Name;
    b.Add(e);
  }
  Open(b.Build());
  std::set<std::wstring> expected;
  for (uint16_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.id);
    CZipEntryInfo info;
    ASSERT_TRUE(zip.GetEntryInfo(info, i));
    if (c.name[0] == '\xE3') {
      EXPECT_EQ(Wide(info.GetName()), c.listed) << "converted to code page 932";
    } else {
      std::string listed = c.name;
      for (size_t k = 0; k < listed.size(); ++k) {
        if (ZipSystem::IsLeadByte(static_cast<uint8_t>(listed[k]))) ++k;
        else if (listed[k] == '/') listed[k] = '\\';
      }
      EXPECT_EQ(info.GetName(), listed);
    }
    EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str()));
    EXPECT_NE(GetFileAttributesW((Wide(dest) + c.listed).c_str()), INVALID_FILE_ATTRIBUTES);
    expected.insert(c.listed);
  }
  expected.insert(L"ソフト");
  expected.insert(L"テスト");
  EXPECT_EQ(ListTree(dest), expected);
  EXPECT_EQ(ReadFileBytes(dest + "\x83\x66\x81\x5B\x83\x5E\\\x83\x5C"),
            "contents of \x83\x66\x81\x5B\x83\x5E/\x83\x5C");
}

TEST_F(ZipWinExtract, NamesThatLeaveTheFolderAreRefused) {
  const char* hostile[] = {
      "../escape.txt", "..\\escape.txt", "a/../../escape.txt", "a\\b\\..\\..\\..\\escape.txt",
      ".. /escape.txt", "... /escape.txt", "a/. ./../escape.txt", "C:..\\escape.txt",
      "\\\\?\\C:\\..\\escape.txt", "\x83/../escape.txt",  // a lead byte before "/" hides nothing
      "a/../..",
  };
  ZipBuilder b;
  b.File("ok.txt", "fine");
  for (const char* name : hostile) b.File(name, "evil");
  Open(b.Build());
  ASSERT_TRUE(zip.ExtractEntry(0, dest.c_str()));
  for (uint16_t i = 1; i <= sizeof hostile / sizeof hostile[0]; ++i) {
    SCOPED_TRACE(hostile[i - 1]);
    CZipException e = CatchZip([&] { zip.ExtractEntry(i, dest.c_str()); });
    EXPECT_EQ(e.cause, 101);
    EXPECT_EQ(e.fileName, archivePath);
  }
  EXPECT_EQ(ListTree(dir), (std::set<std::wstring>{L"out", L"out\\ok.txt", L"test.zip"}));
}

TEST_F(ZipWinExtract, RootedDriveAndNetworkNamesAreBroughtInside) {
  const struct {
    const char* name;
    const wchar_t* lands;
  } cases[] = {
      {"/rooted.txt", L"rooted.txt"},
      {"C:/drive.txt", L"drive.txt"},
      {"C:rel.txt", L"rel.txt"},
      {"//server/share/unc.txt", L"server\\share\\unc.txt"},
      {"\\\\?\\C:\\long.txt", L"long.txt"},
      {"\\\\?\\UNC\\server\\share\\long-unc.txt", L"server\\share\\long-unc.txt"},
  };
  ZipBuilder b;
  for (const auto& c : cases) b.File(c.name, c.name);
  Open(b.Build());
  std::set<std::wstring> expected = {L"server", L"server\\share"};
  for (uint16_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str()));
    expected.insert(cases[i].lands);
  }
  EXPECT_EQ(ListTree(dest), expected);
  EXPECT_EQ(ListTree(dir).size(), expected.size() + 2) << "nothing beside out\\ and the archive";
}

TEST_F(ZipWinExtract, FullDiskIsErrno28WithTheTarget) {
  // Wine reaches host paths through \\?\unix\ even without a drive for "/";
  // /dev/full takes an open and fails every write with "no space".
  const std::string folder = "\\\\?\\unix\\dev\\";
  FileHandle probe(CreateFileA((folder + "full").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
  if (!probe) GTEST_SKIP() << "no full device reachable: not Wine, or a Wine without \\\\?\\unix";
  probe.reset();
  // In line, and from the writer thread of a large entry.
  for (size_t size : {size_t(300000), size_t(3) << 20}) {
    zip.Close(1);
    Open(ZipBuilder().File("full", BinaryLike(size, 4), 8).Build());
    CZipException e = CatchZip([&] { zip.ExtractEntry(0, folder.c_str()); });
    EXPECT_EQ(e.cause, 28) << size;
    EXPECT_EQ(e.fileName, folder + "full");
  }
}

TEST_F(ZipWinExtract, NoHandleOutlivesAnExtraction) {
  ZipBuilder b;
  // Large entries: written beside the inflating, on a thread of their own.
  b.File("good.dat", TextLike(3 << 20, 2)).File("bad.dat", TextLike(3 << 20, 3));
  std::string archive = b.Build();
  archive[b.Layout()[1].dataPos + 100] ^= 0x55;  // corrupt deflate data
  Open(archive);
  ASSERT_TRUE(zip.ExtractEntry(0, dest.c_str()));
  EXPECT_TRUE(DeleteFileA((dest + "good.dat").c_str())) << GetLastError();
  const int cause = CatchZip([&] { zip.ExtractEntry(1, dest.c_str()); }).cause;
  EXPECT_TRUE(cause == 504 || cause == 102) << cause;
  // Removed after it was closed: a file still open could not have been deleted.
  EXPECT_FALSE(FileExists(dest + "bad.dat")) << "the partial file stays";
  zip.Close(1);
  EXPECT_TRUE(DeleteFileA(archivePath.c_str())) << "the archive closed: " << GetLastError();
}

TEST_F(ZipWinExtract, ArchiveBeyondTwoGigabytes) {
  // 3 GiB of (sparse) bytes in front of the archive: every position the
  // reader uses is past what a 32-bit offset holds.
  const std::string data = BinaryLike(100000, 5);
  const std::string archive = ZipBuilder().File("far.dat", data, 8).File("stored.dat", "s", 0).Build();
  {
    FileHandle file(CreateFileA(archivePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD ignored;
    DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = int64_t(3) << 30;
    ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), archive.data(), static_cast<DWORD>(archive.size()), &written, nullptr));
  }
  zip.Open(archivePath);
  ASSERT_EQ(zip.GetEntryCount(), 2);
  EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
  EXPECT_TRUE(zip.ExtractEntry(1, dest.c_str()));
  EXPECT_EQ(ReadFileBytes(dest + "far.dat"), data);
  EXPECT_EQ(ReadFileBytes(dest + "stored.dat"), "s");
  zip.Close();
  EXPECT_TRUE(DeleteFileA(archivePath.c_str()));
}

// ---- the download worker's unpacking ----

// Takes what the worker reports; the worker runs on the test's thread.
class RecordingSink : public ProgressSink {
 public:
  bool StopRequested() const override { return false; }
  bool ShowLine(Line, const std::wstring&) override { return true; }
  bool ShowStatus(WorkerStatus, const std::string&, const std::string&) override { return true; }
  bool ShowPercent(unsigned) override { return true; }
  void ShowFailure(const WorkerFailure& f) override {
    failure = FailureText(f.kind, AnsiToWide(f.subject), f.bytesNeeded, Utf8ToWide(f.entryUtf8));
  }
  void Finish(WorkerOutcome value) override { result = value; }
  std::wstring failure;
  WorkerOutcome result = WorkerOutcome::Done;
};

// The worker's message with the first of its values put in, up to the second.
std::wstring Formatted(const wchar_t* format, const std::wstring& first) {
  std::wstring text = format;
  text.replace(text.find(L"%ls"), 3, first);
  const std::size_t second = text.find(L"%ls");
  return second == std::wstring::npos ? text : text.substr(0, second);
}

TEST(ZipWorkerExtract, RefusedOrFailedEntriesChangeNothingAndLeaveNoPart) {
  ziptest::ZipEntryPlan corrupt;
  corrupt.name = "broken.dat";
  corrupt.data = TextLike(200000, 4);
  std::string damaged = Deflate(corrupt.data);
  for (size_t i = damaged.size() / 2; i < damaged.size(); i += 7) damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
  corrupt.compressed = damaged;
  ziptest::ZipEntryPlan accented;
  accented.name = "caf\xC3\xA9.txt";  // café: no code page 932 form
  accented.data = "c";
  accented.flags = CZipEntryInfo::flagUtf8Name;
  const struct {
    const char* defect;
    std::function<std::string()> archive;
    const char* absent;  // below the test's folder: must not exist afterwards
    std::wstring message = Formatted(texts::kExtractFailedFormat, L"");
  } cases[] = {
      {"read-only file beside the folder, named by a climbing entry",
       [] { return ZipBuilder().File("ok.txt", "ok").File("../outside.txt", "evil").Build(); }, "dest\\ok.txt"},
      {"device name after a good entry",
       [] { return ZipBuilder().File("ok.txt", "ok").File("nul.txt", "n").Build(); }, "dest\\ok.txt"},
      {"damaged data", [&] { return ZipBuilder().File("ok.txt", "ok").Add(corrupt).Build(); },
       "dest\\broken.dat"},
      {"name this code page cannot hold", [&] { return ZipBuilder().File("ok.txt", "ok").Add(accented).Build(); },
       "dest\\ok.txt", Formatted(texts::kNameNotInCodePageFormat, L"café.txt")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.defect);
    const std::string dir = NewTempDir("worker");
    const std::string outside = dir + "outside.txt";
    ASSERT_TRUE(WriteFileBytes(outside, "kept"));
    ASSERT_TRUE(SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string name = "refused" + std::to_string(++n) + ".zip";
    ASSERT_TRUE(WriteFileBytes(ServerRoot() + name, c.archive()));

    HttpClient http;
    ASSERT_TRUE(http.OpenSession("Quorlynx"));
    DownloadRequest request;
    request.http = &http;
    UpdateFile file;
    const std::string url = ServerUrl(name);
    file.url = url;
    request.files.push_back(file);
    request.workDir = NewTempDir("work");
    request.destination = dir + "dest\\";  // outside.txt lies beside it
    RecordingSink sink;
    EXPECT_EQ(RunDownload(request, sink).outcome, WorkerOutcome::Failed);
    EXPECT_EQ(sink.result, WorkerOutcome::Failed);
    EXPECT_EQ(sink.failure.substr(0, c.message.size()), c.message) << "the player is told why";
    EXPECT_TRUE(GetFileAttributesA(outside.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadFileBytes(outside), "kept");
    EXPECT_FALSE(FileExists(dir + c.absent));
    SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
}  // namespace qz
