// The zip reader's Win32 window onto the platform: attributes, times, folders,
// descriptors and their share modes, and code page 932 names.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tests/winsupport/win_test_support.h"
#include "zip/zip_system.h"

namespace qz {
namespace {

using namespace qz::test;

uint64_t Ticks(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
uint64_t NowTicks() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}
const uint64_t kSecond = 10000000;  // FILETIME steps

bool FileTimes(const std::string& path, FILETIME& access, FILETIME& write) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileTime(file.get(), nullptr, &access, &write);
}

TEST(ZipWinSystem, AttributesAreWrittenAndReadBack) {
  const std::string dir = NewTempDir("attr");
  const std::string file = dir + "f.dat";
  const std::string folder = dir + "sub";
  ASSERT_TRUE(WriteFileBytes(file, "x"));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const struct {
    const char* id;
    const std::string& path;
    uint32_t write;
    int accepted;  // -1: the platform's choice
    uint32_t read;
  } cases[] = {
      {"archive", file, 0x20, 1, 0x20},
      {"read-only", file, 0x21, 1, 0x21},
      {"hidden", file, 0x22, 1, 0x22},
      {"read-only again cleared", file, 0x20, 1, 0x20},
      {"folder", folder, 0x10, 1, 0x10},
      // An entry from an unknown host gets a Unix mode in the high half:
      // refused or dropped, it never sticks.
      {"unix mode in the high half", file, 0x81A40020, -1, 0x20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const bool accepted = ZipSystem::WriteAttributes(c.path, c.write);
    if (c.accepted != -1) {
      EXPECT_EQ(accepted, c.accepted == 1);
    }
    uint32_t attributes = 0;
    ASSERT_TRUE(ZipSystem::ReadAttributes(c.path, attributes));
    EXPECT_EQ(attributes, c.read);
    EXPECT_EQ(ZipSystem::PathKind(c.path), &c.path == &folder ? -1 : 1);
  }
  uint32_t untouched = 0x1234;
  EXPECT_FALSE(ZipSystem::ReadAttributes(dir + "missing", untouched));
  EXPECT_EQ(untouched, 0x1234u);
  EXPECT_FALSE(ZipSystem::WriteAttributes(dir + "missing", 0x20));
  EXPECT_EQ(ZipSystem::PathKind(dir + "missing"), 0);
}

TEST(ZipWinSystem, ModifiedTimeIsExactAndAccessIsNow) {
  const std::string file = NewTempDir("time") + "t.dat";
  ASSERT_TRUE(WriteFileBytes(file, "t"));
  const struct {
    const char* id;
    int32_t seconds;
  } cases[] = {
      {"2004-02-29 23:59:58", 1078099198},
      {"1980-01-01 00:00:00", 315532800},
      {"latest 32-bit second", INT32_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const uint64_t before = NowTicks();
    ASSERT_TRUE(ZipSystem::SetModifiedTime(file, c.seconds));
    FILETIME access, write;
    ASSERT_TRUE(FileTimes(file, access, write));
    EXPECT_EQ(Ticks(write), (uint64_t(c.seconds) + 11644473600ULL) * kSecond);
    EXPECT_GE(Ticks(access) + kSecond, before);
    EXPECT_LE(Ticks(access), NowTicks() + kSecond);
  }
  // -1 stands for "now" for both times.
  const uint64_t before = NowTicks();
  ASSERT_TRUE(ZipSystem::SetModifiedTime(file, -1));
  FILETIME access, write;
  ASSERT_TRUE(FileTimes(file, access, write));
  EXPECT_GE(Ticks(write) + kSecond, before);
  EXPECT_LE(Ticks(write), NowTicks() + kSecond);
  EXPECT_FALSE(ZipSystem::SetModifiedTime(file + ".missing", 0));
}

TEST(ZipWinSystem, CreatePathMakesEveryMissingFolder) {
  const std::string dir = NewTempDir("path");
  ASSERT_TRUE(WriteFileBytes(dir + "file", "in the way"));
  const struct {
    const char* id;
    std::string folder;
    bool ok;
    const char* made;  // a folder that must exist afterwards
  } cases[] = {
      {"three levels", dir + "a\\b\\c", true, "a\\b\\c"},
      {"trailing separator", dir + "d\\e\\", true, "d\\e"},
      {"existing", dir + "a\\b", true, "a\\b"},
      {"long-path prefix", "\\\\?\\" + dir + "h\\i", true, "h\\i"},
      {"a file in the way", dir + "file\\j", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(ZipSystem::CreatePath(c.folder), c.ok);
    if (c.made) {
      EXPECT_EQ(ZipSystem::PathKind(dir + c.made), -1);
    }
  }
  EXPECT_EQ(ZipSystem::PathKind(dir + "file"), 1);
  EXPECT_TRUE(ZipSystem::CreatePath("C:\\")) << "a bare drive ends the climb";
  EXPECT_FALSE(ZipSystem::IsRemovableDrive(dir + "a"));
  EXPECT_FALSE(ZipSystem::IsRemovableDrive("D:\\"));
}

TEST(ZipWinSystem, DescriptorsDenyOtherWriters) {
  const std::string dir = NewTempDir("share");
  const std::string path = dir + "a.zip";
  ASSERT_TRUE(WriteFileBytes(path, "0123456789"));
  auto openAs = [&](DWORD access) {
    return FileHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  };

  int fd = ZipSystem::FileOpen(path, ZipSystem::FileMode::ReadShared);
  ASSERT_NE(fd, -1);
  EXPECT_TRUE(openAs(GENERIC_READ)) << "readers are welcome";
  EXPECT_FALSE(openAs(GENERIC_WRITE)) << "a writer could change the archive under the reader";
  char bytes[4] = {};
  EXPECT_EQ(ZipSystem::FileSeek(fd, -4, SEEK_END), 6);
  EXPECT_EQ(ZipSystem::FileRead(fd, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "6789");
  EXPECT_EQ(ZipSystem::FileRead(fd, bytes, 4), 0);
  EXPECT_EQ(ZipSystem::FileClose(fd), 0);
  EXPECT_TRUE(openAs(GENERIC_WRITE)) << "closed means closed";

  fd = ZipSystem::FileOpen(path, ZipSystem::FileMode::WriteCreate);
  ASSERT_NE(fd, -1);
  EXPECT_FALSE(openAs(GENERIC_WRITE));
  EXPECT_EQ(ZipSystem::FileWrite(fd, "new", 3), 3);
  EXPECT_EQ(ZipSystem::FileClose(fd), 0);
  EXPECT_EQ(ReadFileBytes(path), "new") << "truncated, then written";

  const struct {
    const char* id;
    std::string path;
    ZipSystem::FileMode mode;
    int error;
  } failures[] = {
      {"missing archive", dir + "missing.zip", ZipSystem::FileMode::ReadShared, ENOENT},
      {"missing folder", dir + "none\\x.dat", ZipSystem::FileMode::WriteCreate, ENOENT},
      {"read-only target", dir + "ro.dat", ZipSystem::FileMode::WriteCreate, EACCES},
      {"folder as target", dir.substr(0, dir.size() - 1), ZipSystem::FileMode::WriteCreate, EACCES},
  };
  ASSERT_TRUE(WriteFileBytes(dir + "ro.dat", "keep"));
  ASSERT_TRUE(SetFileAttributesA((dir + "ro.dat").c_str(), FILE_ATTRIBUTE_READONLY));
  for (const auto& c : failures) {
    SCOPED_TRACE(c.id);
    errno = 0;
    EXPECT_EQ(ZipSystem::FileOpen(c.path, c.mode), -1);
    EXPECT_EQ(errno, c.error);
  }
  EXPECT_EQ(ReadFileBytes(dir + "ro.dat"), "keep");
}

TEST(ZipWinSystem, SeeksPastFourGigabytes) {
  // Offsets of a zip64 archive pass 4 GiB; a 32-bit seek would wrap at 2 or 4,
  // in the 32-bit build above all.
  const std::string path = NewTempDir("seek") + "sparse.bin";
  const int64_t offset = (int64_t(5) << 30) + 5;
  {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD ignored;
    DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = offset;
    ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "tail", 4, &written, nullptr));
  }
  const int fd = ZipSystem::FileOpen(path, ZipSystem::FileMode::ReadShared);
  ASSERT_NE(fd, -1);
  EXPECT_EQ(ZipSystem::FileSeek(fd, 0, SEEK_END), offset + 4);
  EXPECT_EQ(ZipSystem::FileSeek(fd, offset, SEEK_SET), offset);
  char bytes[4] = {};
  EXPECT_EQ(ZipSystem::FileRead(fd, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "tail");
  EXPECT_EQ(ZipSystem::FileSeek(fd, -8, SEEK_CUR), offset - 4);
  EXPECT_EQ(ZipSystem::FileClose(fd), 0);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(ZipWinSystem, CodePage932LeadBytes) {
  ASSERT_EQ(GetACP(), 932u) << "the tests run with LC_ALL=ja_JP.UTF-8";
  ASSERT_EQ(GetOEMCP(), 932u);
  // The native build emulates exactly these ranges; half-width katakana
  // (0xA1-0xDF) are single bytes.
  for (int b = 0; b < 256; ++b) {
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(ZipSystem::IsLeadByte(static_cast<uint8_t>(b)), lead) << "byte " << b;
  }
}

TEST(ZipWinSystem, Utf8NamesTakeTheirExactCodePage932Form) {
  ASSERT_EQ(GetACP(), 932u);
  const struct {
    const char* id;
    std::string utf8;
    ZipSystem::NameConversion result;
    std::string ansi;
  } cases[] = {
      {"katakana and a 0x5C trail byte", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\xE8\xA1\xA8", ZipSystem::NameConversion::Converted,
       "\x83\x65\x83\x58\x83\x67/\x95\x5C"},
      {"full-width tilde", "\xEF\xBD\x9E", ZipSystem::NameConversion::Converted, "\x81\x60"},
      {"ascii", "data/a.txt", ZipSystem::NameConversion::Converted, "data/a.txt"},
      {"e acute", "caf\xC3\xA9", ZipSystem::NameConversion::NotInCodePage, ""},
      {"yen sign, never a separator", "a\xC2\xA5" "b", ZipSystem::NameConversion::NotInCodePage, ""},
      {"emoji", "\xF0\x9F\x8E\xAE", ZipSystem::NameConversion::NotInCodePage, ""},
      {"not UTF-8", "\x83\x65", ZipSystem::NameConversion::Invalid, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    std::string ansi = "untouched";
    EXPECT_EQ(ZipSystem::ConvertUtf8Name(c.utf8.data(), static_cast<uint32_t>(c.utf8.size()), ansi), c.result);
    if (c.result == ZipSystem::NameConversion::Converted) {
      EXPECT_EQ(ansi, c.ansi);
    }
  }
}

TEST(ZipWinSystem, OemNamesStayWithinTheirLength) {
  const struct {
    const char* id;
    std::string name;
  } cases[] = {
      {"katakana with a 0x5C trail byte", "\x83\x5C\x83\x74\x83\x67\\\x95\x5C.txt"},
      {"half-width katakana", "\xB1\xB2\xB3.dat"},
      {"plain", "data\\file.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    std::string buffer = c.name + "GUARD";
    ZipSystem::ConvertOemName(&buffer[0], static_cast<uint32_t>(c.name.size()));
    EXPECT_EQ(buffer, c.name + "GUARD") << "OEM and ANSI are both 932: nothing changes";
  }
  // Broken double-byte sequences may change, but never past the name.
  std::string broken = std::string("a\x81", 2) + "GUARD";
  ZipSystem::ConvertOemName(&broken[0], 2);
  EXPECT_EQ(broken.substr(2), "GUARD");
  broken = std::string("\x81\x20\xFD\xFF", 4) + "GUARD";
  ZipSystem::ConvertOemName(&broken[0], 4);
  EXPECT_EQ(broken.substr(4), "GUARD");
}

}  // namespace
}  // namespace qz
