#include <gtest/gtest.h>

#include "zip/zip_archive.h"
#include "zip/zip_path_parts.h"

namespace {

struct SplitCase {
    const char* path;
    const char* prefix;
    const char* drive;
    const char* directory;
    const char* title;
    const char* extension;
    const char* full;
};

TEST(ZipPathParts, SplitsAndRebuilds) {
    const SplitCase cases[] = {
        {"C:\\Game\\data\\bgm.dat", "", "C:", "Game\\data", "bgm", "dat", "C:\\Game\\data\\bgm.dat"},
        {"\\\\server\\share\\a.txt", "\\\\", "", "server\\share", "a", "txt", "\\\\server\\share\\a.txt"},
        {"\\\\?\\C:\\x\\y.z", "\\\\?\\", "C:", "x", "y", "z", "\\\\?\\C:\\x\\y.z"},
        {"\\\\?\\UNC\\srv\\f", "\\\\?\\UNC\\", "", "srv", "f", "", "\\\\?\\UNC\\srv\\f"},
        {"\\\\?\\un", "", "", "?", "un", "", "?\\un"},  // a broken prefix is not one
        {"file.", "", "", "", "file", "", "file"},
        {".profile", "", "", "", "", "profile", ".profile"},
        {"a..b", "", "", "", "a.", "b", "a..b"},
        {"dir\\sub\\", "", "", "dir\\sub", "", "", "dir\\sub"},
        {"game.zip", "", "", "", "game", "zip", "game.zip"},
        {"C:", "", "C:", "", "", "", "C:"},
        // 0x95 0x5C is one character of code page 932: its second byte is no separator.
        {"\x95\\\\x.txt", "", "", "\x95\\", "x", "txt", "\x95\\\\x.txt"},
        {"dir\\\x95\\", "", "", "dir", "\x95\\", "", "dir\\\x95\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        CZipPathParts parts(c.path);
        EXPECT_EQ(parts.prefix, c.prefix);
        EXPECT_EQ(parts.drive, c.drive);
        EXPECT_EQ(parts.directory, c.directory);
        EXPECT_EQ(parts.title, c.title);
        EXPECT_EQ(parts.extension, c.extension);
        EXPECT_EQ(parts.GetFullPath(), c.full);
    }
}

// A cut name would be another file: long names are kept whole, and a target
// the system could not create is refused before anything is written.
TEST(ZipPathParts, KeepsLongPartsWholeAndRefusesTargetsThatDoNotFit) {
    CZipPathParts parts(std::string(300, 'd') + "\\" + std::string(300, 't') + "." + std::string(300, 'e'));
    EXPECT_EQ(parts.directory.size(), 300u);
    EXPECT_EQ(parts.title.size(), 300u);
    EXPECT_EQ(parts.extension.size(), 300u);

    const std::string folder = "C:\\";  // targets begin "C:\\"
    const struct {
        std::string name;
        bool fits;
    } cases[] = {
        {std::string(255, 'f'), true},
        {std::string(256, 'f'), false},                                // 259 in all, but one name over 255
        {std::string(200, 'd') + "\\" + std::string(55, 'f'), true},   // 259 in all
        {std::string(200, 'd') + "\\" + std::string(56, 'f'), false},  // 260
        {std::string(244, 'd') + "\\f", true},                          // created in a folder of 247
        {std::string(245, 'd') + "\\f", false},                         // 248
        {std::string(244, 'd') + "\\", true},                           // a folder entry of 247
        {std::string(245, 'd') + "\\", false},                          // 248
    };
    CZipArchive zip;
    for (const auto& c : cases) {
        bool refused = false;
        try {
            zip.CheckedTargetPath(c.name.c_str(), folder.c_str(), true, nullptr);
        } catch (const CZipException&) {
            refused = true;
        }
        EXPECT_EQ(!refused, c.fits) << c.name.size() << " bytes";
    }
}

struct TargetCase {
    const char* name;
    const char* folder;  // null: none
    bool keepFolders;
    const char* newName;
    const char* target;
};

TEST(ZipTargetPath, FollowsTheTargetRules) {
    const TargetCase cases[] = {
        {"data\\sound\\bgm.dat", "C:\\Game\\", true, nullptr, "C:\\Game\\data\\sound\\bgm.dat"},
        {"D:\\data\\x.txt", "C:\\Game\\", true, nullptr, "C:\\Game\\data\\x.txt"},
        {"\\\\?\\unc\\srv\\x.txt", "C:\\Game", true, nullptr, "C:\\Game\\srv\\x.txt"},
        {"\\\\lead\\x.txt", "C:\\Game/\\", true, nullptr, "C:\\Game\\lead\\x.txt"},
        {"data\\sound\\bgm.dat", "C:\\Game\\", false, nullptr, "C:\\Game\\bgm.dat"},
        {"data\\", "C:\\Game\\", true, nullptr, "C:\\Game\\data"},
        {"file.", "C:\\G\\", true, nullptr, "C:\\G\\file"},
        {".profile", "C:\\G\\", true, nullptr, "C:\\G\\.profile"},
        {"a.txt", nullptr, true, nullptr, "a.txt"},
        {"a.txt", "C:\\G\\", true, "b\\c.txt", "C:\\G\\b\\c.txt"},
        {"", "C:\\G\\", true, nullptr, "C:\\G\\"},
        {"x", "/tmp/dest/", true, nullptr, "/tmp/dest\\x"},
    };
    CZipArchive zip;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(zip.PredictTargetPath(c.name, c.folder, c.keepFolders, c.newName), c.target);
    }
}

TEST(ZipTargetPath, KnowsWhatStaysInside) {
    const struct {
        const char* relative;
        bool inside;
    } cases[] = {
        {"data\\x.txt", true},     {"a\\.\\b", true},       {"..a\\b..", true},
        {"\x95\\\\x", true},       // 0x95 0x5C is one character: no empty or climbing part
        {"\x95\\..", false},       // read byte-wise, ".." would climb
        {"..", false},             {"a\\..\\..\\b", false}, {"a/../b", false},
        {"...\\x", false},         {"a\\.. \\b", false},    {"\\rooted", false},
        {"/rooted", false},        {"C:x", false},          {"\x95\\\\..\\x", false},
        {"\x81\\..\\x", false},    // byte-wise the lead byte hides nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        EXPECT_EQ(ZipPathStaysInside(c.relative), c.inside);
    }
}

TEST(ZipTargetPath, KnowsWhatNamesAnOrdinaryFile) {
    const struct {
        const char* relative;
        bool ordinary;
    } cases[] = {
        {"data\\x.txt", true},    {"console.txt", true},      {"CONx", true},
        {"COM10", true},          {"nul_.txt", true},         {"a.con", true},
        {"LPT", true},            {".\\a.txt", true},         {"a\\.\\b", true},
        {"a.txt:s", false},       {"game.exe::$DATA", false}, {"dir:x\\a.txt", false},
        {"CON", false},           {"nul.txt", false},         {"nul.tar.gz", false},
        {"sub\\COM1.dll", false}, {"lpt9\\x.txt", false},     {"CONIN$", false},
        {"conout$.log", false},   {"Aux. ", false},           {"com1 .log", false},
        {"PRN..", false},         {"COM\xB9", false},         {"", false},
        {".", false},             {". \\. ", false},          {".\\.", false},
        {" ", false},
        {"\x95\\CON", false},  // byte-wise a part "CON" appears: refused all the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        EXPECT_EQ(ZipPathNamesOrdinaryTarget(c.relative), c.ordinary);
    }
}

}  // namespace
