// Opening archives: finding the end record, reading and indexing the directory.
#include <gtest/gtest.h>

#include <functional>

#include "tests/common/zip_builder.h"
#include "tests/host/zip_test_support.h"
#include "zip/zip_archive.h"

namespace ziptest {
namespace {

const std::string kEndSig("PK\x05\x06", 4);

std::string OneEntry() { return ZipBuilder().File("a.txt", "hello").Build(); }

std::string WithComment(size_t size, const std::string& tail = "") {
    std::string comment(size - tail.size(), 'c');
    return ZipBuilder().File("a.txt", "hello").Comment(comment + tail).Build();
}

// Defects of the archive as a whole, one expected outcome each.
struct OpenCase {
    std::string defect;
    std::function<std::string()> make;
    int cause;    // 0: opens
    int entries;  // when it opens
};

TEST(ZipOpen, EndRecordAndDirectoryCorpus) {
    std::vector<OpenCase> cases = {
        {"empty archive", [] { return ZipBuilder().Build(); }, 0, 0},
        {"signature 65557 bytes before the end", [] { return kEndSig + std::string(65553, '\0'); }, 0, 0},
        {"signature 65558 bytes before the end", [] { return kEndSig + std::string(65554, '\0'); }, 116, 0},
        {"no signature at all", [] { return std::string(70000, 'x'); }, 116, 0},
        {"65535-byte comment", [] { return WithComment(65535); }, 0, 1},
        // A comment that holds an end record of its own: the one nearest the end wins.
        {"comment holding the signature", [] { return WithComment(65535, kEndSig + std::string(18, '\0')); }, 0, 0},
        {"size 0 with count 3",
         [] {
             std::string z = ZipBuilder().Build();
             PutLe16(z, 8, 3);
             PutLe16(z, 10, 3);
             return z;
         },
         101, 0},
        {"count 0 with a size",
         [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Build();
             PutLe16(z, b.EndRecordPos() + 10, 0);
             return z;
         },
         101, 0},
        {"directory past the end record",
         [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Build();
             PutLe32(z, b.EndRecordPos() + 16, 1000);
             return z;
         },
         101, 0},
        {"wrong central signature",
         [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Build();
             z[b.CentralPos() + 3] = 9;
             return z;
         },
         101, 0},
        {"comment cut short",
         [] {
             std::string z = WithComment(100);
             return z.substr(0, z.size() - 1);
         },
         101, 0},
        {"truncated download", [] { return OneEntry().substr(0, OneEntry().size() - 30); }, 116, 0},
        {"text file", [] { return std::string("just some text, nothing zipped\n"); }, 116, 0},
        {"record longer than the directory", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").File("b", "y").Build();
             PutLe16(z, b.Layout()[1].centralPos + 28, 200);  // name runs into the end record and beyond
             return z;
         }, 101, 0},
        // Entries that share data: a few compressed bytes unpacked again and again.
        {"entry starting inside the data before it", [] {
             ZipBuilder b;
             std::string z = b.File("a", TextLike(1000, 1), 0).File("b", "y").Build();
             PutLe32(z, b.Layout()[1].centralPos + 42, b.Layout()[0].localOffset + 100);
             return z;
         }, 101, 0},
        {"data running into the directory", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x", 0).Build();
             PutLe32(z, b.Layout()[0].centralPos + 20, 100);
             return z;
         }, 101, 0},
        {"data descriptor running into the next entry", [] {
             ZipEntryPlan e;
             e.name = "a";
             e.data = "x";
             e.method = 0;
             e.dataDescriptor = true;
             e.descriptorSignature = false;
             ZipBuilder b;
             std::string z = b.Add(e).File("b", "y").Build();
             PutLe32(z, b.Layout()[1].centralPos + 42, b.Layout()[0].localOffset + 30 + 1 + 1 + 11);
             return z;
         }, 101, 0},
        // zip64: the end record behind its locator, sizes and offsets in extra fields.
        {"zip64 end record", [] { return ZipBuilder().File("a", "x").Zip64().Build(); }, 0, 1},
        {"zip64 entries with 8-byte descriptors", [] {
             ZipEntryPlan e;
             e.name = "a";
             e.data = TextLike(3000, 1);
             e.zip64 = e.dataDescriptor = true;
             ZipEntryPlan f = e;
             f.name = "b";
             f.descriptorSignature = false;
             return ZipBuilder().Add(e).Add(f).Zip64().Build();
         }, 0, 2},
        {"zip64 archive behind a program stub",
         [] { return ZipBuilder().File("a", "x").Zip64().Prefix(std::string(1000, 'M')).Build(); }, 0, 1},
        {"zip64 count that contradicts the end record's", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").File("b", "y").Zip64().Build();
             PutLe32(z, b.Zip64EndPos() + 32, 1);
             return z;
         }, 101, 0},
        {"zip64 count beyond what the directory holds", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Zip64().Build();
             PutLe16(z, b.EndRecordPos() + 8, 0xFFFF);
             PutLe16(z, b.EndRecordPos() + 10, 0xFFFF);
             PutLe32(z, b.Zip64EndPos() + 24, 1000);
             PutLe32(z, b.Zip64EndPos() + 32, 1000);
             return z;
         }, 101, 0},
        {"zip64 locator pointing at nothing", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Zip64().Build();
             z[b.Zip64EndPos()] = 'X';
             return z;
         }, 101, 0},
        {"zip64 directory past its end record", [] {
             ZipBuilder b;
             std::string z = b.File("a", "x").Zip64().Build();
             PutLe32(z, b.EndRecordPos() + 16, 0xFFFFFFFF);
             PutLe32(z, b.Zip64EndPos() + 48, 100000);
             return z;
         }, 101, 0},
        {"zip64 extra field too short for its fields", [] {
             ZipEntryPlan e;
             e.name = "a";
             e.data = "x";
             e.zip64 = true;
             ZipBuilder b;
             std::string z = b.Add(e).Build();
             PutLe16(z, b.Layout()[0].centralPos + 46 + 1 + 2, 16);  // offset left out
             return z;
         }, 101, 0},
    };
    for (size_t n = 0; n <= 3; ++n) cases.push_back({std::to_string(n) + "-byte file", [n] { return std::string(n, 'P'); }, 116, 0});
    for (size_t n = 4; n <= 21; ++n)
        cases.push_back({std::to_string(n) + "-byte file with the signature",
                         [n] { return kEndSig + std::string(n - 4, '\0'); }, 101, 0});
    // End records whose signature falls on, across and beside the edge of the first 32768-byte window.
    for (size_t comment = 32745; comment <= 32750; ++comment)
        cases.push_back({"comment of " + std::to_string(comment), [comment] { return WithComment(comment); }, 0, 1});

    TempDir dir;
    const std::string path = dir / "case.zip";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        WriteFile(path, c.make());
        CZipArchive zip;
        if (c.cause == 0) {
            ASSERT_NO_THROW(zip.Open(path));
            EXPECT_EQ(zip.GetEntryCount(), c.entries);
        } else {
            CZipException e = CatchZip([&] { zip.Open(path); });
            EXPECT_EQ(e.cause, c.cause);
            EXPECT_EQ(e.fileName, path);
            zip.Close(1);
            EXPECT_TRUE(zip.IsClosed());
        }
    }
}

TEST(ZipOpen, MissingArchiveIsErrnoWithItsPath) {
    TempDir dir;
    CZipArchive zip;
    CZipException e = CatchZip([&] { zip.Open(dir / "missing.zip"); });
    EXPECT_EQ(e.cause, 2);
    EXPECT_EQ(e.fileName, dir / "missing.zip");
}

TEST(ZipOpen, TwoEntriesAtOnePositionFailWithoutAName) {
    ZipBuilder b;
    std::string z = b.File("a", "1").File("b", "2").Build();
    PutLe32(z, b.Layout()[1].centralPos + 42, 0);
    TempDir dir;
    WriteFile(dir / "dup.zip", z);
    CZipArchive zip;
    CZipException e = CatchZip([&] { zip.Open(dir / "dup.zip"); });
    EXPECT_EQ(e.cause, 101);
    EXPECT_EQ(e.fileName, "");
}

TEST(ZipOpen, IndexesEntriesInDataOrderWithBackslashNames) {
    ZipBuilder b;
    b.File("one/first.txt", "1").File("two/second.txt", "2").File("third.txt", "3").CentralOrder({2, 0, 1, 3});
    ZipEntryPlan dos;
    dos.name = "\x83\x5c\x83\x74\x83\x67/\x95\x5c.txt";  // code page 932, both with 0x5C second bytes
    dos.data = "4";
    b.Add(dos);
    TempDir dir;
    WriteFile(dir / "order.zip", b.Build());
    CZipArchive zip;
    zip.Open(dir / "order.zip");
    ASSERT_EQ(zip.GetEntryCount(), 4);
    const char* expected[] = {"one\\first.txt", "two\\second.txt", "third.txt", "\x83\x5c\x83\x74\x83\x67\\\x95\x5c.txt"};
    CZipEntryInfo info;
    for (uint16_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(zip.GetEntryInfo(info, i));
        EXPECT_EQ(info.GetName(), expected[i]);
    }
    info.crc32 = 77;
    EXPECT_FALSE(zip.GetEntryInfo(info, 4));
    EXPECT_EQ(info.crc32, 77u) << "a refused copy leaves the record alone";
    zip.Close();
    EXPECT_EQ(zip.GetEntryCount(), 0);
    EXPECT_FALSE(zip.GetEntryInfo(info, 0));
}

TEST(ZipOpen, ReadsThroughDataInFrontOfTheArchive) {
    ZipBuilder b;
    std::string z = b.File("a.txt", TextLike(5000, 1)).File("b.bin", BinaryLike(3000, 2), 0).Prefix(std::string(1000, 'M')).Build();
    TempDir dir;
    WriteFile(dir / "stub.zip", z);
    CZipArchive zip;
    zip.Open(dir / "stub.zip");
    ASSERT_EQ(zip.GetEntryCount(), 2);
    EXPECT_TRUE(zip.ExtractEntry(0, dir.Dest().c_str()));
    EXPECT_TRUE(zip.ExtractEntry(1, dir.Dest().c_str()));
    EXPECT_EQ(ReadFile(dir / "a.txt"), TextLike(5000, 1));
    EXPECT_EQ(ReadFile(dir / "b.bin"), BinaryLike(3000, 2));
}

TEST(ZipOpen, ObjectIsReusedAfterAFailedArchive) {
    TempDir dir;
    WriteFile(dir / "bad.zip", "not an archive");
    WriteFile(dir / "good.zip", OneEntry());
    CZipArchive zip;
    EXPECT_EQ(CatchZip([&] { zip.Open(dir / "bad.zip"); }).cause, 116);
    zip.Close(1);
    zip.Open(dir / "good.zip");
    EXPECT_EQ(zip.GetEntryCount(), 1);
    zip.Open(dir / "bad.zip");  // already open: ignored
    EXPECT_EQ(zip.GetEntryCount(), 1);
}

// Numbered volumes: name.000, name.001, ..., the last under the archive's own name.
std::vector<std::string> WriteVolumes(const TempDir& dir, const std::vector<std::string>& volumes,
                                      const std::string& base = "game") {
    std::vector<std::string> paths;
    for (size_t i = 0; i < volumes.size(); ++i) {
        char ext[8];
        snprintf(ext, sizeof ext, "%03zu", i);
        paths.push_back(dir / (base + "." + (i + 1 == volumes.size() ? std::string("zip") : ext)));
        WriteFile(paths.back(), volumes[i]);
    }
    return paths;
}

ZipBuilder SplitContents() {
    ZipBuilder b;
    b.File("small.txt", "tiny").File("big.bin", BinaryLike(10000, 3), 0).File("text.txt", TextLike(20000, 4));
    return b;
}

TEST(ZipOpen, ExtractsASplitArchiveAcrossNumberedVolumes) {
    for (bool zip64 : {false, true}) {
        SCOPED_TRACE(zip64 ? "zip64" : "plain");
        ZipBuilder b = SplitContents();
        std::vector<std::string> volumes = b.Zip64(zip64).BuildSplit(4096);
        ASSERT_GE(volumes.size(), 4u);
        TempDir dir;
        std::vector<std::string> paths = WriteVolumes(dir, volumes);
        mkdir((dir / "out").c_str(), 0755);
        CZipArchive zip;
        zip.Open(paths.back());
        ASSERT_EQ(zip.GetEntryCount(), 3);
        const std::string dest = dir / "out/";
        for (uint16_t i = 0; i < 3; ++i) EXPECT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
        EXPECT_EQ(ReadFile(dir / "out/small.txt"), "tiny");
        EXPECT_EQ(ReadFile(dir / "out/big.bin"), BinaryLike(10000, 3));
        EXPECT_EQ(ReadFile(dir / "out/text.txt"), TextLike(20000, 4));
    }
}

TEST(ZipOpen, MissingVolumeIsErrnoWithTheVolumePath) {
    TempDir dir;
    std::vector<std::string> paths = WriteVolumes(dir, SplitContents().BuildSplit(4096));
    unlink(paths[1].c_str());
    CZipArchive zip;
    zip.Open(paths.back());
    CZipException e = CatchZip([&] {
        for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) zip.ExtractEntry(i, dir.Dest().c_str());
    });
    EXPECT_EQ(e.cause, 2);
    EXPECT_EQ(e.fileName, dir.path + "/\\game.001");
    zip.Close(1);
}

TEST(ZipOpen, SplitArchiveOnRemovableMediaNeedsACallback) {
    // Natively the drives A: and B: stand for removable media; reach one
    // through a folder named "A:" in the current folder.
    TempDir dir;
    mkdir((dir / "A:").c_str(), 0755);
    WriteVolumes(dir, SplitContents().BuildSplit(4096), "A:/game");
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    CZipArchive zip;
    CZipException e = CatchZip([&] { zip.Open("A:\\game.zip"); });
    EXPECT_EQ(chdir(old), 0);
    EXPECT_EQ(e.cause, 103);
    EXPECT_EQ(e.fileName, "A:\\game.zip");
}

// The launcher unpacks only the one file it downloaded: any sign of a split
// or spanned archive refuses it, and no file beside it is ever opened (the
// other volumes are deleted first, so opening one would fail with errno 2).
TEST(ZipOpen, SingleFileOnlyRefusesSplitArchivesWithoutOpeningVolumes) {
    ZipBuilder layout;
    std::string diskOne = layout.File("a.txt", "hello").Build();
    PutLe16(diskOne, layout.Layout()[0].centralPos + 34, 1);  // the entry starts on disk 1
    const struct {
        const char* name;
        std::function<std::vector<std::string>()> volumes;
    } cases[] = {
        {"numbered volumes", [] { return SplitContents().BuildSplit(4096); }},
        {"numbered zip64 volumes", [] { return SplitContents().Zip64().BuildSplit(4096); }},
        {"spanning mark in front",
         [] { return std::vector<std::string>{ZipBuilder().Prefix(std::string("PK\x07\x08", 4)).File("a.txt", "x").Build()}; }},
        {"an entry on another disk", [&] { return std::vector<std::string>{diskOne}; }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::vector<std::string> paths = WriteVolumes(dir, c.volumes());
        for (size_t i = 0; i + 1 < paths.size(); ++i) unlink(paths[i].c_str());
        CZipArchive zip;
        zip.SetSingleFileOnly(true);
        const CZipException e = CatchZip([&] {
            zip.Open(paths.back());
            for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) zip.ExtractEntry(i, dir.Dest().c_str());
        });
        EXPECT_EQ(e.cause, CZipException::errSplitRefused) << c.name;
        EXPECT_EQ(e.fileName, paths.back()) << c.name;
        zip.Close(1);
    }
}

TEST(ZipOpen, MoreEntriesThanSixteenBitsCount) {
    // 65,600 entries need the zip64 end record: the 16-bit count says "see zip64".
    const uint32_t count = 65600;
    ZipBuilder b;
    for (uint32_t i = 0; i < count; ++i) b.File("d" + std::to_string(i % 50) + "/f" + std::to_string(i), "", 0);
    b.File("last.txt", "the last one", 8);
    TempDir dir;
    WriteFile(dir / "many.zip", b.Build());
    CZipArchive zip;
    zip.Open(dir / "many.zip");
    ASSERT_EQ(zip.GetEntryCount(), static_cast<int>(count + 1));
    CZipEntryInfo info;
    ASSERT_TRUE(zip.GetEntryInfo(info, count));
    EXPECT_EQ(info.GetName(), "last.txt");
    mkdir((dir / "out").c_str(), 0755);
    const std::string dest = dir / "out/";
    // Indexes past 16 bits reach their own entries (the launcher's end-to-end
    // case unpacks such an archive whole).
    for (uint32_t i : {0u, 1u, 65535u, 65536u, count - 1, count}) ASSERT_TRUE(zip.ExtractEntry(i, dest.c_str())) << i;
    EXPECT_EQ(ReadFile(dir / "out/last.txt"), "the last one");
    EXPECT_TRUE(Exists(dir / "out/d36/f65536"));
    EXPECT_TRUE(Exists(dir / "out/d49/f65599"));
}

TEST(ZipOpen, OffsetsBeyondFourGigabytesInASparseFile) {
    // The archive begins 5 GiB into the file, after a hole: every offset the
    // reader seeks to is past 32 bits, and only zip64 fields can hold them.
    const uint64_t origin = uint64_t(5) << 30;
    const std::string data = TextLike(200000, 8);
    ZipBuilder b;
    std::string z = b.Origin(origin).File("far/text.txt", data).File("far/stored.bin", BinaryLike(3000, 9), 0).Build();
    TempDir dir;
    const std::string path = dir / "sparse.zip";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fseeko(f, static_cast<off_t>(origin), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(z.data(), 1, z.size(), f), z.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    CZipArchive zip;
    zip.Open(path);
    ASSERT_EQ(zip.GetEntryCount(), 2);
    CZipEntryInfo info;
    zip.GetEntryInfo(info, 1);
    EXPECT_GT(info.localHeaderOffset, origin);
    for (uint32_t i = 0; i < 2; ++i) EXPECT_TRUE(zip.ExtractEntry(i, dir.Dest().c_str()));
    EXPECT_EQ(ReadFile(dir / "far/text.txt"), data);
    EXPECT_EQ(ReadFile(dir / "far/stored.bin"), BinaryLike(3000, 9));
}

}  // namespace
}  // namespace ziptest
