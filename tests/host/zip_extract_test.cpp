// Extracting entries: targets, data, checks and what is left on disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "tests/common/zip_builder.h"
#include "tests/host/zip_test_support.h"
#include "zip/zip_archive.h"
#include "zip/zip_system.h"

namespace ziptest {
namespace {

class ZipExtract : public ::testing::Test {
protected:
    // Writes the archive, opens it and extracts entry `index` into out/.
    bool Extract(const std::string& archive, uint16_t index = 0, uint32_t bufferSize = 65536) {
        Open(archive);
        return zip.ExtractEntry(index, dest.c_str(), true, nullptr, bufferSize);
    }
    void Open(const std::string& archive) {
        WriteFile(archivePath, archive);
        zip.Open(archivePath);
    }
    CZipException ExtractFails(const std::string& archive, uint16_t index = 0) {
        return CatchZip([&] { Extract(archive, index); });
    }
    std::string Out(const std::string& name) const { return dir / ("out/" + name); }

    void SetUp() override { mkdir((dir / "out").c_str(), 0755); }
    void TearDown() override { zip.Close(1); }

    TempDir dir;
    std::string archivePath = dir / "test.zip";
    std::string dest = dir / "out/";
    CZipArchive zip;
};

TEST_F(ZipExtract, WritesStoredAndDeflatedEntries) {
    const struct {
        const char* id;
        std::string data;
        uint16_t method;
    } cases[] = {
        {"stored empty", "", 0},
        {"deflated empty", "", 8},
        {"stored text", TextLike(100000, 5), 0},
        {"deflated text", TextLike(300000, 6), 8},
        {"deflated noise", BinaryLike(150000, 7), 8},
        {"deflated one buffer", TextLike(65536, 8), 8},
    };
    ZipBuilder b;
    for (const auto& c : cases) b.File(std::string(c.id) + ".dat", c.data, c.method);
    Open(b.Build());
    EXPECT_EQ(b.Layout()[1].dataSize, 2u) << "an empty deflate stream is two bytes";
    for (uint16_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(cases[i].id);
        EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str()));
        EXPECT_EQ(ReadFile(Out(std::string(cases[i].id) + ".dat")), cases[i].data);
    }
}

TEST_F(ZipExtract, ReadsInCallerSizedPieces) {
    const struct {
        size_t size;
        uint16_t method;
        std::vector<uint32_t> reads;
    } cases[] = {
        {200000, 8, {65536, 65536, 65536, 3392, 0}},
        {200000, 0, {65536, 65536, 65536, 3392, 0}},
        {65536, 8, {65536, 0}},
        {65536, 0, {65536, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " method " + std::to_string(c.method));
        zip.Close();
        Open(ZipBuilder().File("x", BinaryLike(c.size, 9), c.method).Build());
        ASSERT_TRUE(zip.OpenEntry(0));
        EXPECT_FALSE(zip.OpenEntry(0)) << "one entry at a time";
        std::vector<uint8_t> buffer(65536);
        std::vector<uint32_t> reads;
        for (size_t n = 0; n < c.reads.size(); ++n) reads.push_back(zip.ReadEntry(buffer.data(), 65536));
        EXPECT_EQ(reads, c.reads);
        EXPECT_EQ(zip.CloseEntry(), 1);
        EXPECT_EQ(zip.CloseEntry(), 0);
    }
}

TEST_F(ZipExtract, CreatesFoldersAndKeepsNames) {
    ZipBuilder b;
    b.Folder("data/").File("data/sound/bgm.dat", "bgm").File("file.", "dot").File(".profile", "p");
    b.Folder("blocked/");
    Open(b.Build());
    WriteFile(Out("blocked"), "a file where the folder would go");
    for (uint16_t i = 0; i < 4; ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
    // A folder that cannot be made fails its entry, naming the folder.
    CZipException e = CatchZip([&] { zip.ExtractEntry(4, dest.c_str()); });
    EXPECT_EQ(e.cause, EEXIST);
    EXPECT_EQ(e.fileName, dir.path + "/out\\blocked");
    EXPECT_EQ(ZipSystem::PathKind(Out("data")), -1);
    EXPECT_EQ(ReadFile(Out("data/sound/bgm.dat")), "bgm");
    EXPECT_EQ(ReadFile(Out("file")), "dot");
    EXPECT_EQ(ReadFile(Out(".profile")), "p");
    EXPECT_EQ(ListTree(dir / "out"),
              (std::set<std::string>{"data", "data/sound", "data/sound/bgm.dat", "file", ".profile", "blocked"}));
}

TEST_F(ZipExtract, ReplacesAnExistingFileButNotAReadOnlyOne) {
    WriteFile(Out("a.txt"), "old contents, longer than the new");
    EXPECT_TRUE(Extract(ZipBuilder().File("a.txt", "new").Build()));
    EXPECT_EQ(ReadFile(Out("a.txt")), "new");
    chmod(Out("a.txt").c_str(), 0444);
    CZipException e = CatchZip([&] { zip.ExtractEntry(0, dest.c_str()); });
    EXPECT_EQ(e.cause, 13);
    EXPECT_EQ(e.fileName, dir.path + "/out\\a.txt");
}

TEST_F(ZipExtract, GivesTheFileItsTimeAndAttributes) {
    ZipEntryPlan e;
    e.name = "ro.txt";
    e.data = "read only";
    e.versionMadeBy = 0x0314;
    e.externalAttributes = 0100444u << 16;
    e.modDate = DosDate(2004, 2, 29);
    e.modTime = DosTime(23, 59, 58);
    ZipEntryPlan rw = e;
    rw.name = "rw.txt";
    rw.externalAttributes = 0100644u << 16;
    ZipEntryPlan folder = e;
    folder.name = "bin/";
    folder.data = "";
    folder.externalAttributes = (0040755u << 16) | 0x10;
    ZipBuilder b;
    b.Add(e).Add(rw).Add(folder);
    const time_t before = time(nullptr);
    Open(b.Build());
    for (uint16_t i = 0; i < 3; ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;

    CZipEntryInfo info;
    zip.GetEntryInfo(info, 0);
    struct stat st;
    ASSERT_EQ(stat(Out("ro.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, info.GetModTime());
    EXPECT_GE(st.st_atime, before);
    const struct {
        const char* name;
        uint32_t attributes;
    } expected[] = {{"ro.txt", 0x21}, {"rw.txt", 0x20}, {"bin", 0x10}};
    for (const auto& x : expected) {
        uint32_t attributes = 0;
        ASSERT_TRUE(ZipSystem::ReadAttributes(Out(x.name), attributes)) << x.name;
        EXPECT_EQ(attributes, x.attributes) << x.name;
    }
}

// Damaged entries, one expected outcome each. Every one is refused or cut
// short without writing outside its place.
struct EntryCase {
    std::string defect;
    std::function<std::string()> make;
    int cause;           // 0: no exception
    bool result;         // ExtractEntry's result when there is no exception
    bool fileLeft;       // whether the target exists afterwards: only a whole entry stays
};

ZipEntryPlan PlanOf(const std::string& data, uint16_t method) {
    ZipEntryPlan e;
    e.name = "x.bin";
    e.data = data;
    e.method = method;
    return e;
}

std::string Mess(ZipEntryPlan e, const std::function<void(std::string&, const ZipEntryLayout&)>& mess = nullptr) {
    ZipBuilder b;
    std::string z = b.Add(std::move(e)).Build();
    if (mess) mess(z, b.Layout()[0]);
    return z;
}

TEST_F(ZipExtract, DamagedEntryCorpus) {
    const std::string text = TextLike(70000, 11);
    std::vector<EntryCase> cases = {
        {"good deflated", [&] { return Mess(PlanOf(text, 8)); }, 0, true, true},
        {"deflated stream ends before the size",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.uncompressedSize = 80000;
             e.crc = 1;  // not checked when data is short
             return Mess(e);
         },
         0, false, false},
        {"deflated data longer than its size",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.uncompressedSize = 60000;
             return Mess(e);
         },
         102, false, false},
        {"stored data longer than its size",
         [&] {
             ZipEntryPlan e = PlanOf(text, 0);
             e.uncompressedSize = 1000;
             return Mess(e);
         },
         102, false, false},
        {"stored data shorter than its size",
         [&] {
             ZipEntryPlan e = PlanOf(text, 0);
             e.compressed = text.substr(0, 1000);
             return Mess(e);
         },
         0, false, false},
        {"stored empty entry with 100000 data bytes",
         [&] {
             ZipEntryPlan e = PlanOf("", 0);
             e.compressed = BinaryLike(100000, 1);
             e.compressedSize = 100000;
             return Mess(e);
         },
         0, true, true},
        {"corrupt deflate", [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.compressed = std::string(100, '\xff');
             return Mess(e);
         }, 504, false, false},
        {"deflated data cut short",
         [&] {
             ZipEntryPlan e = PlanOf(BinaryLike(100000, 2), 8);
             e.compressed = Deflate(e.data).substr(0, 50000);
             return Mess(e);
         },
         506, false, false},
        {"data past the end of the file",
         [&] {
             ZipEntryPlan e = PlanOf(text, 0);
             e.compressedSize = e.uncompressedSize = 5000000;
             return Mess(e);
         },
         101, false, false},
        {"changed stored byte",
         [&] { return Mess(PlanOf(text, 0), [](std::string& z, const ZipEntryLayout& l) { z[l.dataPos + 5] ^= 1; }); },
         102, false, false},
        {"local name length differs",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.localNameLength = 4;
             return Mess(e);
         },
         101, false, false},
        {"wrong local signature",
         [&] { return Mess(PlanOf(text, 8), [](std::string& z, const ZipEntryLayout& l) { z[l.localPos] = 'X'; }); },
         101, false, false},
        {"local size differs",
         [&] { return Mess(PlanOf(text, 8), [](std::string& z, const ZipEntryLayout& l) { z[l.localPos + 22] ^= 1; }); },
         101, false, false},
        {"encrypted",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.flags = 1;
             return Mess(e);
         },
         110, false, false},
        {"method 12", [&] {
             ZipEntryPlan e = PlanOf(text, 12);
             e.compressed = text;
             return Mess(e);
         }, 101, false, false},
        {"data descriptor with signature",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.dataDescriptor = true;
             return Mess(e);
         },
         0, true, true},
        {"data descriptor without signature",
         [&] {
             ZipEntryPlan e = PlanOf(text, 0);
             e.dataDescriptor = true;
             e.descriptorSignature = false;
             return Mess(e);
         },
         0, true, true},
        {"wrong data descriptor",
         [&] {
             ZipEntryPlan e = PlanOf(text, 8);
             e.dataDescriptor = true;
             return Mess(e, [](std::string& z, const ZipEntryLayout& l) { z[l.dataPos + l.dataSize + 4] ^= 1; });
         },
         101, false, false},
        // Output complete before the last compressed bytes (empty blocks) were needed.
        {"data descriptor after unneeded compressed bytes",
         [&] {
             ZipEntryPlan e = PlanOf("short", 8);
             z_stream s = {};
             deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
             std::string out(1000, '\0');
             s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>("short"));
             s.avail_in = 5;
             s.next_out = reinterpret_cast<Bytef*>(&out[0]);
             s.avail_out = static_cast<uInt>(out.size());
             deflate(&s, Z_SYNC_FLUSH);  // ends on a byte boundary
             out.resize(s.total_out);
             deflateEnd(&s);
             for (int i = 0; i < 20000; ++i) out += std::string("\0\0\0\xff\xff", 5);  // empty stored blocks
             out += std::string("\x03\0", 2);  // empty final block
             e.compressed = out;
             e.dataDescriptor = true;
             return Mess(e);
         },
         0, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        zip.Close(1);
        unlink(Out("x.bin").c_str());
        if (c.cause == 0) {
            EXPECT_EQ(Extract(c.make()), c.result);
        } else {
            CZipException e = ExtractFails(c.make());
            EXPECT_EQ(e.cause, c.cause);
            EXPECT_EQ(e.fileName, archivePath);
        }
        EXPECT_EQ(Exists(Out("x.bin")), c.fileLeft);
    }
    unlink(Out("x.bin").c_str());
    EXPECT_EQ(ListTree(dir / "out"), std::set<std::string>{}) << "nothing but the target";
}

TEST_F(ZipExtract, ChangedStoredByteIsReportedAndThePartialFileRemoved) {
    // Small entries are written in line, large ones beside the inflating.
    for (size_t size : {size_t(1000), size_t(3) << 20}) {
        for (bool writeBehind : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (writeBehind ? " beside" : " in line"));
            zip.Close(1);
            zip.SetWriteBehind(writeBehind);
            std::string data = TextLike(size, 3);
            ZipBuilder b;
            std::string z = b.File("x.txt", data, 0).Build();
            z[b.Layout()[0].dataPos + size / 2] ^= 0x20;
            WriteFile(Out("x.txt"), "the release before");
            EXPECT_EQ(ExtractFails(z).cause, 102);
            EXPECT_FALSE(Exists(Out("x.txt"))) << "neither the damaged entry nor the old file it replaced";
        }
    }
}

TEST_F(ZipExtract, RefusesNamesThatLeaveTheFolder) {
    const char* hostile[] = {"../escape.txt", "a/../../escape.txt", "..\\escape.txt", "a/b/../../../escape.txt",
                             "a/.../escape.txt", "a/../../"};
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        zip.Close(1);
        ZipBuilder b;
        b.File("ok.txt", "fine").File(name, "evil");
        Open(b.Build());
        EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
        CZipException e = CatchZip([&] { zip.ExtractEntry(1, dest.c_str()); });
        EXPECT_EQ(e.cause, 101);
        EXPECT_EQ(e.fileName, archivePath);
    }
    EXPECT_EQ(ListTree(dir.path), (std::set<std::string>{"out", "out/ok.txt", "test.zip"}));
    // Rooted and drive names are brought inside the folder.
    zip.Close();
    ZipBuilder b;
    b.File("/rooted.txt", "r").File("C:/drive.txt", "d").File("C:rel.txt", "c");
    Open(b.Build());
    for (uint16_t i = 0; i < 3; ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str()));
    EXPECT_EQ(ListTree(dir / "out"), (std::set<std::string>{"ok.txt", "rooted.txt", "drive.txt", "rel.txt"}));
}

TEST_F(ZipExtract, RefusesNamesThatAreNoOrdinaryFileBelowTheFolder) {
    const struct {
        const char* defect;
        const char* name;
    } cases[] = {
        {"alternate data stream", "a.txt:s"},
        {"default data stream", "game.exe::$DATA"},
        {"device", "CON"},
        {"device with an extension", "nul.txt"},
        {"device in a folder", "sub/COM1.dll"},
        {"device as a folder", "LPT9/x.txt"},
        {"console input", "CONIN$"},
        {"device after trimming", "Aux. "},
        {"blank before the extension", "com1 .log"},
        {"the folder itself as ./", "./"},
        {"the folder itself as \\", "\\"},
        {"the folder itself as .", "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        zip.Close(1);
        ZipBuilder b;
        b.File("ok.txt", "fine").File(c.name, "");
        Open(b.Build());
        EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
        CZipException e = CatchZip([&] { zip.ExtractEntry(1, dest.c_str()); });
        EXPECT_EQ(e.cause, 101);
        EXPECT_EQ(e.fileName, archivePath);
    }
    EXPECT_EQ(ListTree(dir.path), (std::set<std::string>{"out", "out/ok.txt", "test.zip"}));
}

TEST_F(ZipExtract, RefusesDataThatOverlapsTheNextEntryBeforeWritingIt) {
    // The next entry starts inside this one's local extra field: only the
    // local header shows the overlap, and opening reads every one.
    ZipEntryPlan first = PlanOf(TextLike(100, 1), 0);
    first.localExtra = std::string(200, 'e');
    ZipBuilder b;
    std::string z = b.Add(first).File("y.bin", "second").Build();
    PutLe32(z, b.Layout()[1].centralPos + 42, b.Layout()[0].localOffset + 30 + 5 + 150);
    CZipException e = CatchZip([&] { Open(z); });
    EXPECT_EQ(e.cause, 101);
    EXPECT_EQ(e.fileName, archivePath);
    EXPECT_EQ(ListTree(dir / "out"), std::set<std::string>{});
}

TEST_F(ZipExtract, RefusesAZeroBufferAndAnIndexOutOfRange) {
    Open(ZipBuilder().File("a.txt", "x").Build());
    EXPECT_FALSE(zip.ExtractEntry(0, dest.c_str(), true, nullptr, 0));
    EXPECT_FALSE(zip.ExtractEntry(0, nullptr, true, nullptr, 0));
    EXPECT_FALSE(zip.ExtractEntry(1, dest.c_str()));
    EXPECT_EQ(ListTree(dir / "out"), std::set<std::string>{});
}

TEST_F(ZipExtract, FullDiskIsErrno28WithTheTarget) {
    // A 64 KiB tmpfs where mounting is allowed, else /dev/full behind a link.
    const std::string small = dir / "small";
    mkdir(small.c_str(), 0755);
    const bool mounted = mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (!mounted) ASSERT_EQ(symlink("/dev/full", (small + "/big.bin").c_str()), 0);
    // In line, and from the writer thread of a large entry.
    for (size_t size : {size_t(300000), size_t(3) << 20}) {
        zip.Close(1);
        Open(ZipBuilder().File("big.bin", BinaryLike(size, 4), 8).Build());
        CZipException e = CatchZip([&] { zip.ExtractEntry(0, (small + "/").c_str()); });
        EXPECT_EQ(e.cause, 28) << size;
        EXPECT_EQ(e.fileName, small + "\\big.bin");
    }
    if (mounted) umount(small.c_str());
}

// Names flagged as UTF-8 land as code page 932 names, folders and all.
TEST_F(ZipExtract, Utf8NamesLandInCodePage932) {
    auto utf8 = [](const std::string& name, const std::string& data) {
        ZipEntryPlan e;
        e.name = name;
        e.data = data;
        e.flags = CZipEntryInfo::flagUtf8Name;
        e.versionMadeBy = 0x0014;  // MS-DOS host: no OEM conversion for UTF-8 names
        return e;
    };
    ZipBuilder b;
    b.Add(utf8("\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\xE3\x82\xB5\xE3\x83\x96/\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.py", "deep"));  // テスト/サブ/データ.py
    b.Add(utf8("\xE8\xA1\xA8/x.txt", "0x5C trail byte"));  // 表/x.txt
    b.Add(utf8("plain/ascii.txt", "ascii"));
    Open(b.Build());
    const char* listed[] = {"\x83\x65\x83\x58\x83\x67\\\x83\x54\x83\x75\\\x83\x66\x81\x5B\x83\x5E.py",
                            "\x95\x5C\\x.txt", "plain\\ascii.txt"};
    for (uint32_t i = 0; i < 3; ++i) {
        CZipEntryInfo info;
        ASSERT_TRUE(zip.GetEntryInfo(info, i));
        EXPECT_EQ(info.GetName(), listed[i]);
        EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
    }
    EXPECT_EQ(ReadFile(Out("\x83\x65\x83\x58\x83\x67/\x83\x54\x83\x75/\x83\x66\x81\x5B\x83\x5E.py")), "deep");
    EXPECT_EQ(ReadFile(Out("\x95\x5C/x.txt")), "0x5C trail byte");
    EXPECT_EQ(ListTree(dir / "out").size(), 7u);
}

// Whatever refuses an archive does so when it opens: entries before the bad
// one are not written either.
TEST_F(ZipExtract, RefusedArchivesWriteNothing) {
    auto after = [](ZipEntryPlan bad, const std::function<void(std::string&, const ZipEntryLayout&)>& mess = nullptr) {
        ZipBuilder b;
        b.File("first.txt", "written first, if at all").Add(std::move(bad));
        std::string z = b.Build();
        if (mess) mess(z, b.Layout()[1]);
        return z;
    };
    auto plan = [](uint16_t method, uint16_t flags = 0) {
        ZipEntryPlan e = PlanOf(TextLike(3000, 2), method);
        e.flags = flags;
        if (method != 0 && method != 8) e.compressed = e.data;
        return e;
    };
    ZipEntryPlan described = plan(8);
    described.dataDescriptor = true;
    ZipEntryPlan described64 = described;
    described64.zip64 = true;
    ZipEntryPlan local64 = plan(8);
    local64.zip64 = true;
    ZipEntryPlan notInCodePage = plan(8, CZipEntryInfo::flagUtf8Name);
    notInCodePage.name = "caf\xC3\xA9.txt";  // café
    ZipEntryPlan yen = plan(8, CZipEntryInfo::flagUtf8Name);
    yen.name = "a\xC2\xA5" "b.txt";  // a yen sign, which code page 932 would make a separator
    ZipEntryPlan notUtf8 = plan(8, CZipEntryInfo::flagUtf8Name);
    notUtf8.name = "\x83\x65.txt";
    const struct {
        const char* defect;
        std::string archive;
        int cause;
        const char* entryName;
    } cases[] = {
        {"bzip2", after(plan(12)), 101, ""},
        {"LZMA", after(plan(14)), 101, ""},
        {"Deflate64", after(plan(9)), 101, ""},
        {"PPMd", after(plan(98)), 101, ""},
        {"encrypted", after(plan(8, 1)), 110, ""},
        {"descriptor with another CRC",
         after(described, [](std::string& z, const ZipEntryLayout& l) { z[l.dataPos + l.dataSize + 4] ^= 1; }), 101, ""},
        {"zip64 descriptor with another size",
         after(described64, [](std::string& z, const ZipEntryLayout& l) { z[l.dataPos + l.dataSize + 8] ^= 1; }), 101, ""},
        {"local zip64 extra field with another size",
         after(local64, [](std::string& z, const ZipEntryLayout& l) { z[l.dataPos - 8] ^= 1; }), 101, ""},
        {"name with a character code page 932 lacks", after(notInCodePage), 117, "caf\xC3\xA9.txt"},
        {"name with a yen sign", after(yen), 117, "a\xC2\xA5" "b.txt"},
        {"name flagged as UTF-8 that is not", after(notUtf8), 101, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        zip.Close(1);
        CZipException e = CatchZip([&] {
            Open(c.archive);
            for (uint32_t i = 0; i < 2; ++i) zip.ExtractEntry(i, dest.c_str());
        });
        EXPECT_EQ(e.cause, c.cause);
        EXPECT_EQ(e.fileName, archivePath);
        EXPECT_EQ(e.entryName, c.entryName);
        EXPECT_EQ(ListTree(dir / "out"), std::set<std::string>{});
    }
}

TEST_F(ZipExtract, MakesMissingFoldersWithEitherSeparatorAtAnyDepth) {
    const std::string data = "x";
    const char* destinations[] = {"/new1/new2/new3/", "\\a1\\a2\\", "/m1\\m2/m3\\", "/s1/s2"};
    Open(ZipBuilder().File("in/x.txt", data).Folder("f/g/").Build());
    for (const char* d : destinations) {
        SCOPED_TRACE(d);
        const std::string folder = dir.path + d;
        for (uint32_t i = 0; i < 2; ++i) EXPECT_TRUE(zip.ExtractEntry(i, folder.c_str()));
        std::string native = dir.path + d;
        std::replace(native.begin(), native.end(), '\\', '/');
        if (native.back() != '/') native += '/';
        EXPECT_EQ(ReadFile(native + "in/x.txt"), data);
        EXPECT_EQ(ZipSystem::PathKind(native + "f/g"), -1);
    }
}

class Canceller : public CZipProgressObserver {
public:
    explicit Canceller(int cancelAfter) : cancelAfter(cancelAfter) {}
    void OnStart(const std::string&, const std::string& target) override { log += "start " + target + ";"; }
    void OnTotal(uint64_t total) override { log += "total " + std::to_string(total) + ";"; }
    void OnEnd() override { log += "end;"; }
    bool OnProgress(uint32_t n) override {
        log += std::to_string(n) + ";";
        return --cancelAfter != 0;
    }
    int cancelAfter;
    std::string log;
};

TEST_F(ZipExtract, ObserverCancelsWithWhatIsLeft) {
    const struct {
        size_t size;
        int cancelAfter;
        int cause;
    } cases[] = {
        {100000, 1, 105},   // data left
        {65536, 1, 106},    // the last byte written, the entry closes well
        {100000, 2, 106},
        {100000, 3, 0},     // never cancelled
        {2 << 20, 1, 105},  // large: written beside, in pieces of 256 KiB
        {2 << 20, 8, 106},
        {2 << 20, 9, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + "/" + std::to_string(c.cancelAfter));
        zip.Close(1);
        Canceller observer(c.cancelAfter);
        zip.SetProgressObserver(CZipArchive::opExtract, &observer);
        Open(ZipBuilder().File("x.bin", BinaryLike(c.size, 5), 8).Build());
        if (c.cause == 0) {
            EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
        } else {
            CZipException e = CatchZip([&] { zip.ExtractEntry(0, dest.c_str()); });
            EXPECT_EQ(e.cause, c.cause);
            EXPECT_EQ(e.fileName, dir.path + "/out\\x.bin");
        }
        // Data left: removed; cancelled after the last byte or never: whole.
        if (c.cause == 105) EXPECT_FALSE(Exists(Out("x.bin")));
        else EXPECT_EQ(ReadFile(Out("x.bin")), BinaryLike(c.size, 5));
        EXPECT_EQ(observer.log.substr(0, 6), "start ");
        EXPECT_NE(observer.log.find("total " + std::to_string(c.size) + ";"), std::string::npos);
        EXPECT_EQ(observer.log.substr(observer.log.size() - 4), "end;");
        zip.SetProgressObserver(CZipArchive::opExtract, nullptr);
    }
}

TEST_F(ZipExtract, AFailureInTheMiddleLeavesNothingBehindInMemory) {
    ZipEntryPlan e = PlanOf(TextLike(200000, 1), 8);
    std::string stream = Deflate(e.data);
    for (size_t i = stream.size() / 2; i < stream.size(); i += 7) stream[i] = static_cast<char>(stream[i] ^ 0x5A);
    e.compressed = stream;
    std::string z = Mess(e);
    {
        CZipArchive other;
        WriteFile(archivePath, z);
        other.Open(archivePath);
        EXPECT_GE(CatchZip([&] { other.ExtractEntry(0, dest.c_str()); }).cause, 500);
        // destroyed with the entry open: the decompressor's blocks go with it
    }
    CZipException failure = ExtractFails(z);
    EXPECT_GE(failure.cause, 500);
    EXPECT_FALSE(zip.OpenEntry(0)) << "the failed entry is still open";
    zip.Close(1);
    EXPECT_TRUE(zip.IsClosed());
    Open(ZipBuilder().File("y.txt", "fine").Build());
    EXPECT_TRUE(zip.ExtractEntry(0, dest.c_str()));
}

}  // namespace
}  // namespace ziptest
