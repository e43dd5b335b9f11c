// Fuzz target for the zip reader: opens and extracts arbitrary bytes into a
// fresh folder through the POSIX layer and stops the run if anything lands
// outside it. When the first corpus folder is empty it is seeded with
// archives made in code, so no binary seeds live in the repository.
#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/common/zip_builder.h"
#include "zip/zip_archive.h"

using namespace ziptest;

namespace {

const uint16_t kMaxEntries = 32;

std::vector<std::string> Seeds() {
    std::vector<std::string> seeds;
    seeds.push_back(ZipBuilder().Build());
    seeds.push_back(ZipBuilder().File("a.txt", TextLike(300, 1), 0).File("b.txt", TextLike(500, 2)).Build());
    seeds.push_back(ZipBuilder().Folder("data/").File("data/sound/bgm.dat", BinaryLike(200, 3)).Build());
    ZipEntryPlan described;
    described.name = "d.bin";
    described.data = TextLike(400, 4);
    described.dataDescriptor = true;
    seeds.push_back(ZipBuilder().Add(described).Build());
    described.descriptorSignature = false;
    described.method = 0;
    seeds.push_back(ZipBuilder().Add(described).Build());
    ZipEntryPlan unix;
    unix.name = "bin/run";
    unix.data = "#!/bin/sh\n";
    unix.versionMadeBy = 0x0314;
    unix.externalAttributes = 0100755u << 16;
    unix.extra = std::string("UT\x05\0\x03\0\0\0\0", 9);
    seeds.push_back(ZipBuilder().Add(unix).Comment("comment").Prefix("MZ stub").Build());
    seeds.push_back(ZipBuilder().File("\x83\x5c\x83\x74\x83\x67/\x95\x5c.txt", "sjis").File("file.", "x").Build());
    seeds.push_back(ZipBuilder().File("../up.txt", "u").File("a/../../up2.txt", "v").File("/abs.txt", "w").Build());
    seeds.push_back(ZipBuilder().File("one", "1").File("two", "2").File("three", "3").CentralOrder({2, 0, 1}).Build());
    ZipEntryPlan encrypted;
    encrypted.name = "secret";
    encrypted.data = "x";
    encrypted.flags = 1;
    seeds.push_back(ZipBuilder().Add(encrypted).Build());
    // Names Windows would not open as a file below the folder.
    seeds.push_back(ZipBuilder().File("a.txt:s", "s").File("game.exe::$DATA", "d").File("nul.txt", "n")
                        .File("sub/COM1.dll", "c").File("CONIN$", "i").Folder("./").Folder("\\").Build());
    // Two entries sharing data: the second starts inside the first's.
    ZipBuilder overlap;
    std::string shared = overlap.File("a", TextLike(300, 6), 0).File("b", "b", 0).Build();
    PutLe32(shared, overlap.Layout()[1].centralPos + 42, overlap.Layout()[0].localOffset + 40);
    seeds.push_back(shared);
    // zip64: the end record behind its locator, extra fields, 8-byte descriptors.
    ZipEntryPlan wide;
    wide.name = "w.bin";
    wide.data = TextLike(500, 7);
    wide.zip64 = wide.dataDescriptor = true;
    seeds.push_back(ZipBuilder().Add(wide).File("n.txt", "n").Zip64().Prefix("stub").Build());
    // Names flagged as UTF-8, one of them without a code page 932 form.
    ZipEntryPlan utf8;
    utf8.name = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\xE8\xA1\xA8.txt";
    utf8.data = "u";
    utf8.flags = 0x0800;
    ZipEntryPlan accented = utf8;
    accented.name = "caf\xC3\xA9";
    seeds.push_back(ZipBuilder().Add(utf8).Add(accented).Build());
    std::vector<std::string> volumes = ZipBuilder().File("s.txt", TextLike(600, 5), 0).BuildSplit(256);
    seeds.push_back(volumes.back());
    return seeds;
}

bool IsEmptyFolder(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return true;
    bool empty = true;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") empty = false;
    closedir(d);
    return empty;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) names.insert(e->d_name);
        closedir(d);
    }
    names.erase(".");
    names.erase("..");
    return names;
}

void RemoveTree(const std::string& root) {
    nftw(root.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "zip_fuzz: %s\n", what);
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        std::string arg = (*argv)[i];
        if (arg.empty() || arg[0] == '-') continue;
        struct stat st;
        if (stat(arg.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !IsEmptyFolder(arg)) break;
        std::vector<std::string> seeds = Seeds();
        for (size_t n = 0; n < seeds.size(); ++n) {
            std::ofstream out(arg + "/seed" + std::to_string(n) + ".zip", std::ios::binary);
            out.write(seeds[n].data(), static_cast<std::streamsize>(seeds[n].size()));
        }
        break;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* base = getenv("TMPDIR");
    std::string root = std::string(base && *base ? base : "/tmp") + "/zipfuzz.XXXXXX";
    if (mkdtemp(&root[0]) == nullptr) return 0;
    // The destination sits three folders deep so a climb out of it shows.
    const std::string archive = root + "/in.zip";
    const std::string dest = root + "/a/b/c/dest/";
    mkdir((root + "/a").c_str(), 0755);
    mkdir((root + "/a/b").c_str(), 0755);
    mkdir((root + "/a/b/c").c_str(), 0755);
    mkdir(dest.c_str(), 0755);
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    CZipArchive zip;
    try {
        zip.Open(archive);
    } catch (const CZipException&) {
        zip.Close(1);
    }
    const int count = zip.GetEntryCount();
    for (uint32_t i = 0; i < static_cast<uint32_t>(count) && i < kMaxEntries; ++i) {
        try {
            if (zip.IsClosed()) zip.Open(archive);
            CZipEntryInfo info;
            zip.GetEntryInfo(info, i);
            zip.ExtractEntry(i, dest.c_str());
        } catch (const CZipException&) {
            zip.Close(1);
        }
    }
    zip.Close(1);

    Check(Names(root) == std::set<std::string>{"in.zip", "a"}, "wrote beside the archive");
    Check(Names(root + "/a") == std::set<std::string>{"b"}, "climbed three folders");
    Check(Names(root + "/a/b") == std::set<std::string>{"c"}, "climbed two folders");
    Check(Names(root + "/a/b/c") == std::set<std::string>{"dest"}, "climbed one folder");
    RemoveTree(root);
    return 0;
}
