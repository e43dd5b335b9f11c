// Archives made by other zip writers (Python's zipfile, Info-ZIP zip),
// generated at test time, extract to exactly the files they were made from.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/common/zip_builder.h"
#include "tests/host/zip_test_support.h"
#include "zip/zip_archive.h"

namespace ziptest {
namespace {

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

// A source tree of text, noise, empty files and nested folders.
void MakeTree(const std::string& root) {
    mkdir(root.c_str(), 0755);
    mkdir((root + "/data").c_str(), 0755);
    mkdir((root + "/data/sound").c_str(), 0755);
    mkdir((root + "/empty").c_str(), 0755);
    WriteFile(root + "/readme.txt", TextLike(12345, 1));
    WriteFile(root + "/data/map.bin", BinaryLike(200000, 2));
    WriteFile(root + "/data/sound/bgm.dat", TextLike(300000, 3) + BinaryLike(70000, 4));
    WriteFile(root + "/data/zero.txt", "");
    WriteFile(root + "/locked.txt", "read only");
    chmod((root + "/locked.txt").c_str(), 0444);
}

void ExpectSameTree(const std::string& source, const std::string& extracted) {
    EXPECT_EQ(ListTree(extracted), ListTree(source));
    for (const std::string& rel : ListTree(source)) {
        struct stat a, b;
        ASSERT_EQ(stat((source + "/" + rel).c_str(), &a), 0);
        ASSERT_EQ(stat((extracted + "/" + rel).c_str(), &b), 0) << rel;
        if (S_ISDIR(a.st_mode)) continue;
        EXPECT_EQ(ReadFile(extracted + "/" + rel), ReadFile(source + "/" + rel)) << rel;
        EXPECT_EQ(a.st_mode & S_IWUSR, b.st_mode & S_IWUSR) << rel;
        EXPECT_LE(std::abs(static_cast<long>(a.st_mtime - b.st_mtime)), 2) << rel;
    }
}

void ExtractAll(const std::string& archive, const std::string& dest) {
    mkdir(dest.c_str(), 0755);
    CZipArchive zip;
    zip.Open(archive);
    for (uint16_t i = 0; i < zip.GetEntryCount(); ++i)
        EXPECT_TRUE(zip.ExtractEntry(i, (dest + "/").c_str())) << i;
    zip.Close();
}

TEST(ZipInterop, InfoZipArchivesExtractExactly) {
    if (!Have("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir dir;
    MakeTree(dir / "src");
    const struct {
        const char* id;
        const char* options;
    } cases[] = {{"deflated", "-q -r"}, {"stored", "-q -r -0"}, {"best", "-q -r -9"}, {"zip64", "-q -r -fz"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        std::string archive = dir / (std::string(c.id) + ".zip");
        ASSERT_EQ(std::system(("cd '" + dir / "src" + "' && zip " + c.options + " '" + archive + "' .").c_str()), 0);
        ExtractAll(archive, dir / c.id);
        ExpectSameTree(dir / "src", dir / c.id);
    }
}

TEST(ZipInterop, InfoZipStreamedArchiveWithDataDescriptors) {
    if (!Have("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir dir;
    MakeTree(dir / "src");
    // Written to a pipe, zip cannot go back: sizes and CRCs follow the data.
    ASSERT_EQ(std::system(("cd '" + dir / "src" + "' && zip -q -r - . | cat > '" + dir / "piped.zip" + "'").c_str()), 0);
    CZipArchive zip;
    zip.Open(dir / "piped.zip");
    CZipEntryInfo info;
    ASSERT_TRUE(zip.GetEntryInfo(info, 1));
    EXPECT_TRUE(info.flags & CZipEntryInfo::flagDataDescriptor);
    zip.Close();
    ExtractAll(dir / "piped.zip", dir / "out");
    ExpectSameTree(dir / "src", dir / "out");
}

TEST(ZipInterop, InfoZipArchiveOfWhatAPipeGave) {
    if (!Have("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    // Reading a pipe, zip cannot know the size: the entry "-" is zip64.
    TempDir dir;
    const std::string data = TextLike(150000, 5);
    WriteFile(dir / "in.txt", data);
    ASSERT_EQ(std::system(("cat '" + dir / "in.txt" + "' | zip -q '" + dir / "stdin.zip" + "' -").c_str()), 0);
    ExtractAll(dir / "stdin.zip", dir / "out");
    EXPECT_EQ(ReadFile(dir / "out/-"), data);
}

TEST(ZipInterop, PythonZipfileArchivesExtractExactly) {
    if (!Have("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    MakeTree(dir / "src");
    const std::string script =
        "import os, sys, zipfile\n"
        "src, out, method = sys.argv[1], sys.argv[2], int(sys.argv[3])\n"
        "with zipfile.ZipFile(out, 'w', min(method, 8)) as z:\n"
        "    for root, dirs, files in sorted(os.walk(src)):\n"
        "        for d in sorted(dirs):\n"
        "            z.write(os.path.join(root, d), os.path.relpath(os.path.join(root, d), src))\n"
        "        for f in sorted(files):\n"
        "            path = os.path.join(root, f)\n"
        "            if method == 0 or method == 8:\n"
        "                z.write(path, os.path.relpath(path, src))\n"
        "                continue\n"
        "            info = zipfile.ZipInfo.from_file(path, os.path.relpath(path, src))\n"
        "            info.compress_type = zipfile.ZIP_DEFLATED\n"
        "            with open(path, 'rb') as data, z.open(info, 'w', force_zip64=True) as entry:\n"
        "                entry.write(data.read())\n";
    WriteFile(dir / "make.py", script);
    // 64: deflated with zip64 local headers (force_zip64).
    for (int method : {0, 8, 64}) {
        SCOPED_TRACE(method);
        std::string archive = dir / ("py" + std::to_string(method) + ".zip");
        ASSERT_EQ(std::system(("python3 '" + dir / "make.py" + "' '" + dir / "src" + "' '" + archive + "' " +
                               std::to_string(method)).c_str()),
                  0);
        std::string out = dir / ("py" + std::to_string(method));
        ExtractAll(archive, out);
        ExpectSameTree(dir / "src", out);
    }
}

}  // namespace
}  // namespace ziptest
