#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "zip/zip_entry_info.h"
#include "zip/zip_exception.h"

namespace {

CZipEntryInfo Record(uint8_t host, uint32_t external, const char* name) {
    CZipEntryInfo e;
    e.versionMadeBy = static_cast<uint16_t>((host << 8) | 20);
    e.externalAttributes = external;
    e.name.Allocate(static_cast<uint32_t>(std::strlen(name)));
    std::memcpy(e.name.Data(), name, e.name.GetSize());
    return e;
}

TEST(ZipEntryInfo, ConvertsAttributesByHost) {
    const struct {
        const char* id;
        uint8_t host;
        uint32_t external;
        const char* name;
        uint32_t expected;
    } cases[] = {
        {"unix rw-r--r-- file", 3, 0100644u << 16, "a", 0x20},
        {"unix r--r--r-- file", 3, 0100444u << 16, "a", 0x21},
        {"unix rwxr-xr-x folder", 3, 0040755u << 16, "d\\", 0x10},
        {"unix rwxr-xr-x file", 3, 0100755u << 16, "a", 0x00},
        {"unix --------- file", 3, 0100000u << 16, "a", 0x23},
        {"unix no attributes, folder name", 3, 0, "d\\", 0x41FF0010},
        {"dos attributes kept whole", 0, 0x12345621, "a", 0x12345621},
        {"dos no attributes, folder name", 0, 0, "d/", 0x41FF0010},
        {"ntfs kept", 10, 0x21, "a", 0x21},
        {"os2 kept", 6, 0x10, "d", 0x10},
        {"mac masked", 7, 0xFF, "a", 0x11},
        {"ntfs as Windows' compressed folders write it", 11, 0x21, "a", 0x21},
        {"host 12 file", 12, 0x21, "a", 0x81A40020},
        {"host 12 folder", 12, 0, "d\\", 0x41FF0010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        CZipEntryInfo e = Record(c.host, c.external, c.name);
        EXPECT_EQ(e.GetSystemAttributes(), c.expected);
        EXPECT_EQ(e.IsDirectory(), (c.expected & 0x10) != 0);
    }
}

TEST(ZipEntryInfo, ModTimeIsTheDosTimeAsLocalTime) {
    CZipEntryInfo e;
    e.modDate = static_cast<uint16_t>(((2003 - 1980) << 9) | (7 << 5) | 14);
    e.modTime = static_cast<uint16_t>((13 << 11) | (45 << 5) | (59 / 2));
    struct tm t = {};
    t.tm_year = 103;
    t.tm_mon = 6;
    t.tm_mday = 14;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 58;  // DOS keeps even seconds
    t.tm_isdst = -1;
    EXPECT_EQ(e.GetModTime(), static_cast<int64_t>(mktime(&t)));
}

int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

TEST(ZipEntryInfo, ModTimePrefersTheExtendedTimestampAndFallsBackTo1980) {
    const std::string stamp("UT\x05\0\x01\xD2\x02\x96\x49", 9);  // modification time 1234567890, UTC
    const int64_t fallback = LocalTime(1980, 1, 1, 0, 0, 0);
    const struct {
        const char* id;
        uint16_t date, time;
        std::string extra;
        int64_t expected;
    } cases[] = {
        {"extended timestamp wins over the DOS time", 0x3A21, 0x1234, std::string("\x0A\0\x04\0abcd", 8) + stamp, 1234567890},
        {"timestamp without a modification time", 0x3A21, 0, std::string("UT\x01\0\x02", 5), LocalTime(2009, 1, 1, 0, 0, 0)},
        {"timestamp before 1970", 0x3A21, 0, std::string("UT\x05\0\x01\0\0\0\x80", 9), LocalTime(2009, 1, 1, 0, 0, 0)},
        {"timestamp cut short", 0x3A21, 0, std::string("UT\x05\0\x01\xD2", 6), LocalTime(2009, 1, 1, 0, 0, 0)},
        {"DOS date 0", 0, 0, "", fallback},
        {"month 13", static_cast<uint16_t>((29 << 9) | (13 << 5) | 1), 0, "", fallback},
        {"29 February 2009", static_cast<uint16_t>((29 << 9) | (2 << 5) | 29), 0, "", fallback},
        {"29 February 2008", static_cast<uint16_t>((28 << 9) | (2 << 5) | 29), 0, "", LocalTime(2008, 2, 29, 0, 0, 0)},
        {"hour 24", 0x3A21, static_cast<uint16_t>(24 << 11), "", fallback},
        {"year 2107", static_cast<uint16_t>((127 << 9) | (12 << 5) | 31), 0, "", LocalTime(2107, 12, 31, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        CZipEntryInfo e;
        e.modDate = c.date;
        e.modTime = c.time;
        e.extraField.Allocate(static_cast<uint32_t>(c.extra.size()));
        if (!c.extra.empty()) std::memcpy(e.extraField.Data(), c.extra.data(), c.extra.size());
        EXPECT_EQ(e.GetModTime(), c.expected);
    }
}

TEST(ZipEntryInfo, CopiesAreDeep) {
    CZipEntryInfo a = Record(0, 0, "first");
    CZipEntryInfo b = a;
    b.name.Data()[0] = 'F';
    EXPECT_EQ(a.GetName(), "first");
    EXPECT_EQ(b.GetName(), "First");
}

TEST(ZipException, MapsZlibResults) {
    const struct {
        int zlib;
        int cause;
    } cases[] = {{1, 500}, {2, 501}, {-1, 502}, {-2, 503}, {-3, 504}, {-4, 505}, {-5, 506}, {-6, 507},
                 {0, 100}, {3, 100}, {-7, 100}};
    for (const auto& c : cases) EXPECT_EQ(CZipException::ZlibCause(c.zlib), c.cause) << c.zlib;
}

}  // namespace
