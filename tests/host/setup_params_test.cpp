// The setup modes' parameters from the launch record, the game location they
// lead to, and the DirectX requirement in Spare.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/dx_requirement.h"
#include "base/param_text.h"
#include "launcher/setup_params.h"

namespace qz {
namespace {

struct Params : SetupParameters {
  void Parse(LaunchBlock& block) { static_cast<SetupParameters&>(*this) = ParseSetupParameters(block); }
};

TEST(SetupParameters, LocationKeys) {
  struct Case {
    const char* id;
    const char* autoDownUrl;
    int hKey;
    const char* regPath;
    const char* regName;
    const char* fileName;
  } cases[] = {
      {"all four", "HKey=2&RegPath=SOFTWARE\\Velto\\Game&RegName=Path&FileName=game.exe", 2,
       "SOFTWARE\\Velto\\Game", "Path", "game.exe"},
      {"key by leading letters", "HKeyRoot=1&RegPathName=A&RegNameX=B", 1, "A", "B", ""},
      {"no HKey gives index 0", "RegPath=A&RegName=B", 0, "A", "B", ""},
      {"HKey out of range kept as number", "HKey=7", 7, "", "", ""},
      {"blanks belong to values", "RegPath=Program Files\\G &RegName= Dir", 0, "Program Files\\G ",
       " Dir", ""},
      {"empty FileName names none", "FileName=&RegName=N", 0, "", "N", ""},
      {"unknown key skipped", "Other=1&HKey=3", 3, "", "", ""},
      {"an unknown key's value is looked at as a key", "Other=HKey=4", 4, "", "", ""},
      {"a key is the value of the key before it", "RegPath=HKey&RegName=x", 0, "HKey", "x", ""},
      {"key at the very end has no value", "HKey=2&FileName", 2, "", "", ""},
      {"key at the end with an empty value", "RegName=N&FileName=", 0, "", "N", ""},
      {"lower-case keys are not keys", "hkey=2&regpath=A", 0, "", "", ""},
      {"HKey value read as leading digits", "HKey=2abc", 2, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    LaunchBlock block{};
    SetField(block.AutoDownURL, c.autoDownUrl);
    Params p;
    p.Parse(block);
    EXPECT_EQ(p.hKeyIndex, c.hKey);
    EXPECT_STREQ(p.regPath, c.regPath);
    EXPECT_STREQ(p.regName, c.regName);
    EXPECT_STREQ(p.fileName, c.fileName);
  }
}

TEST(SetupParameters, StartKeys) {
  struct Case {
    const char* id;
    const char* dataCookie;
    bool useMutex;
    const char* mutexName;
    const char* parm;
  } cases[] = {
      {"Mutex before Parm names the mutex", "Mutex=1&Parm=GameMtx -server 10.0.0.1", true, "GameMtx",
       "GameMtx -server 10.0.0.1"},
      {"Mutex after Parm leaves the name empty", "Parm=GameMtx -server 10.0.0.1&Mutex=1", true, "",
       "GameMtx -server 10.0.0.1"},
      {"Mutex 0", "Mutex=0&Parm=a b", false, "", "a b"},
      {"leading blanks before the first word", "Mutex=5&Parm=  word rest", true, "word", "  word rest"},
      {"long first word cut to the field", "Mutex=1&Parm=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 x", true,
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 x"},
      {"Parm at the end without value", "Mutex=1&Parm", true, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    LaunchBlock block{};
    SetField(block.DataCookie, c.dataCookie);
    Params p;
    p.Parse(block);
    EXPECT_EQ(p.useMutex, c.useMutex);
    EXPECT_STREQ(p.mutexName, c.mutexName);
    EXPECT_STREQ(p.parm, c.parm);
  }
}

TEST(SetupParameters, ValuesStayWithinTheirFields) {
  LaunchBlock block{};
  std::memset(block.AvatarCookie, 'Z', sizeof block.AvatarCookie);  // the field after DataCookie
  // DataCookie filled to its width: no terminator inside the field.
  SetField(block.DataCookie, "Parm=" + std::string(sizeof block.DataCookie - 5, 'p'));
  SetField(block.AutoDownURL, "RegName=" + std::string(100, 'n') + "&FileName=" + std::string(80, 'f'));
  Params p;
  p.Parse(block);
  EXPECT_EQ(std::string(p.parm), std::string(123, 'p')) << "bounded by DataCookie, not AvatarCookie";
  EXPECT_EQ(std::string(p.regName), std::string(63, 'n'));
  EXPECT_EQ(std::string(p.fileName), std::string(63, 'f'));
  // The fields are split in place.
  EXPECT_EQ(std::string(block.DataCookie, 5), std::string("Parm\0", 5));
}

TEST(GameLocation, FromTheRegisteredValue) {
  struct Case {
    const char* id;
    std::string value;
    const char* fileName;
    bool ok;
    const char* dir;
    const char* exe;
  } cases[] = {
      {"folder without backslash", "C:\\Games\\Velto", "game.exe", true, "C:\\Games\\Velto\\",
       "C:\\Games\\Velto\\game.exe"},
      {"folder with backslash", "C:\\Games\\Velto\\", "game.exe", true, "C:\\Games\\Velto\\",
       "C:\\Games\\Velto\\game.exe"},
      {"executable path", "C:\\Games\\Velto\\game.exe", "", true, "C:\\Games\\Velto",
       "C:\\Games\\Velto\\game.exe"},
      {"executable without folder", "game.exe", "", true, "", "game.exe"},
      {"empty value with file name", "", "game.exe", true, "", "game.exe"},
      {"path of 259 fits", std::string(259, 'x'), "", true, "", nullptr},
      {"path of 299 refused", std::string(299, 'x'), "", false, "old", "old"},
      {"folder plus name too long", std::string(251, 'x'), "game.exe", false, "old", "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    std::string dir = "old";
    std::string exe = "old";
    EXPECT_EQ(GameLocationFromValue(c.value, c.fileName, dir, exe), c.ok);
    EXPECT_EQ(dir, c.dir);
    EXPECT_EQ(exe, c.exe ? std::string(c.exe) : c.value);
  }
}

TEST(GameLocation, RulesKeepTheSetupModesToGames) {
  const struct {
    const char* regPath;
    bool ok;
  } registry[] = {
      {"SOFTWARE\\Veltoworks\\Location", true},
      {"software\\Vendor", true},
      {"SOFTWARE\\WOW6432Node\\Vendor\\Game", true},
      {"SOFTWARE\\MicrosoftGames", true},  // a whole part must match
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", false},
      {"Software\\MICROSOFT", false},
      {"SOFTWARE\\Classes\\exefile", false},
      {"SOFTWARE\\Policies\\Vendor", false},
      {"Software\\AppDataLow\\Vendor\\Game", false},  // low integrity writes there
      {"SOFTWARE\\WOW6432Node\\appdatalow\\Vendor", false},
      {"SOFTWARE\\WOW6432Node\\Microsoft\\Windows", false},
      {"SOFTWARE\\WOW6432Node", false},
      {"SOFTWARE\\\\Microsoft", false},  // an empty part the registry may skip
      {"\\SOFTWARE\\Vendor", false},
      {"SOFTWARE\\Vendor\\", false},
      {"SOFTWARE", false},
      {"SYSTEM\\CurrentControlSet\\Services", false},
      {"SOFTWAREX\\Vendor", false},
      {"", false},
  };
  for (const auto& c : registry) EXPECT_EQ(IsGameRegistryPath(c.regPath), c.ok) << c.regPath;

  const struct {
    const char* path;
    bool fileName;  // as a FileName
    bool full;      // as the game's executable
  } paths[] = {
      {"game.exe", true, false},
      {"bin\\game.exe", true, false},
      {"console.exe", true, false},
      {"com10.exe", true, false},
      {"System32\\cmd.exe", true, false},  // left to the Windows folder check
      {"C:\\Games\\V\\g.exe", false, true},
      {"d:\\g.exe", false, true},
      {"..\\cmd.exe", false, false},
      {"bin\\..\\..\\x.exe", false, false},
      {"C:\\Games\\..\\Windows\\cmd.exe", false, false},
      {".\\game.exe", false, false},
      {"\\game.exe", false, false},
      {"\\\\server\\share\\g.exe", false, false},
      {"\\\\?\\C:\\g.exe", false, false},
      {"C:game.exe", false, false},
      {"game.exe:stream", false, false},
      {"C:/Games/g.exe", false, false},
      {"bin/game.exe", false, false},
      {"bin\\\\game.exe", false, false},
      {"C:\\", false, false},
      {"1:\\g.exe", false, false},
      {"CON", false, false},
      {"C:\\nul.exe", false, false},
      {"com1 .exe", false, false},
      {"C:\\Games\\LPT9", false, false},
      {"game.exe.", false, false},
      {"C:\\Games \\g.exe", false, false},
      {"g*.exe", false, false},
      {"", false, false},
  };
  for (const auto& c : paths) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsGameFileName(c.path), c.fileName);
    EXPECT_EQ(IsFullLocalPath(c.path), c.full);
  }

  const struct {
    const char* path;
    const char* folder;
    bool inside;
  } folders[] = {
      {"C:\\windows\\System32\\cmd.exe", "C:\\windows", true},
      {"C:\\WINDOWS\\x.exe", "c:\\Windows\\", true},
      {"C:\\windowsgames\\g.exe", "C:\\windows", false},
      {"D:\\windows\\x.exe", "C:\\windows", false},
      {"C:\\windows", "C:\\windows", false},
  };
  for (const auto& c : folders) EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside) << c.path;

  const struct {
    const char* path;
    bool program;
  } programs[] = {
      {"C:\\Games\\V\\game.exe", true},
      {"C:\\Games\\V\\GAME.EXE", true},
      {"C:\\Python\\python.exe", true},  // a program file: the location lists keep it out
      {"C:\\Games\\run.cmd", false},
      {"C:\\Games\\run.bat", false},
      {"C:\\Games\\run.js", false},
      {"C:\\Games\\Game.lnk", false},
      {"C:\\Games\\game.exe.cmd", false},
      {"C:\\Games.exe\\game", false},
      {"C:\\Games\\.exe", false},
      {"", false},
  };
  for (const auto& c : programs) EXPECT_EQ(IsGameProgram(c.path), c.program) << c.path;
}

TEST(GameLocation, OnlyListedLocationsWhenKeysAreConfigured) {
  const std::vector<std::string> listed = {"HKLM\\SOFTWARE\\Vendor\\Game", "HKEY_CURRENT_USER\\Software\\Other\\G",
                                           "nonsense", "HKLM"};
  const struct {
    int hKey;
    const char* regPath;
    bool ok;
  } cases[] = {
      {2, "SOFTWARE\\Vendor\\Game", true},
      {2, "software\\vendor\\GAME", true},
      {1, "Software\\Other\\G", true},
      {1, "SOFTWARE\\Vendor\\Game", false},  // listed under the other root
      {2, "SOFTWARE\\Vendor", false},          // a listed location's parent
      {2, "SOFTWARE\\Vendor\\Game\\Sub", false},
      {2, "SOFTWARE\\Python\\PythonCore\\3.12\\InstallPath", false},
      {0, "SOFTWARE\\Vendor\\Game", false},
      {2, "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsListedGameLocation(c.hKey, c.regPath, listed), c.ok) << c.regPath;
  EXPECT_FALSE(IsListedGameLocation(2, "SOFTWARE\\Vendor\\Game", {})) << "nothing listed: nothing read";
}

TEST(DirectXRequirement, FromSpare) {
  struct Case {
    const char* id;
    std::string spare;
    int required;
    std::string after;  // the field's leading bytes afterwards: what the game receives
  } cases[] = {
      {"DxMin=6", "DxMin=6", 6, std::string("DxMin\0" "6", 7)},
      {"DxMin=9", "DxMin=9", 9, std::string("DxMin\0" "9", 7)},
      {"lower case passes the first look but has no DxMin token", "dxmin=9", 0,
       std::string("dxmin\0" "9", 7)},
      {"not starting with DxMin is left alone", "Opt=1&DxMin=9", 0, "Opt=1&DxMin=9"},
      {"blank first is not DxMin", " DxMin=9", 0, " DxMin=9"},
      {"empty", "", 0, ""},
      {"the last DxMin wins", "DxMin=9&DxMin=7", 7, std::string("DxMin\0" "9\0" "DxMin", 13)},
      {"blanks and runs separate", "DXMIN = 8 & DxMinimum=11", 11, std::string("DXMIN\0\0\0" "8", 9)},
      {"DxMin as the last token", "DxMin=8&DxMin", 8, std::string("DxMin\0" "8\0" "DxMin", 13)},
      {"16 signed bits", "DxMin=70000", 4464, std::string("DxMin\0" "70000", 11)},
      {"wraps negative", "DxMin=40000", -25536, std::string("DxMin\0" "40000", 11)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    char spare[128] = {};
    std::memcpy(spare, c.spare.data(), c.spare.size());
    EXPECT_EQ(SplitDirectXRequirement(spare), c.required);
    EXPECT_EQ(std::string(spare, c.after.size()), c.after);
  }
  // Full width without terminator: the number ends at the field's end.
  char full[128];
  std::memset(full, '9', sizeof full);
  std::memcpy(full, "DxMin=", 6);
  EXPECT_EQ(SplitDirectXRequirement(full), static_cast<std::int16_t>(static_cast<std::uint16_t>(
                                                LeadingDecimal(std::string(122, '9')))));
}

TEST(DirectXRequirement, MajorVersionOfTheSystem) {
  struct Case {
    const char* text;
    bool found;
    int major;
  } cases[] = {
      {"4.09.00.0904", true, 9}, {"4.08.01.0881", true, 8}, {"4.10", true, 10},
      {"4", false, 0},           {"", false, 0},           {"4.x.1", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int major = -1;
    EXPECT_EQ(DirectXMajorVersion(c.text, major), c.found);
    if (c.found) EXPECT_EQ(major, c.major);
  }
}

TEST(ParamText, LeadingDecimalAndSplitting) {
  struct Case {
    const char* text;
    std::uint32_t value;
  } numbers[] = {{"123", 123}, {"  42x", 42}, {"-1", 0xFFFFFFFFu}, {"+7", 7}, {"x1", 0}, {"", 0},
                 {"4294967297", 1}};
  for (const Case& c : numbers) EXPECT_EQ(LeadingDecimal(c.text), c.value) << "'" << c.text << "'";

  char each[] = "a==b&";
  auto t = SplitInPlace(each, 5, "=&", SplitRule::EachSeparator);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0], "a");
  EXPECT_EQ(t[1], "");
  EXPECT_EQ(t[2], "b");
  EXPECT_EQ(t[3], "");
  char runs[] = "  a \r\n{b}";
  t = SplitInPlace(runs, std::strlen(runs), " \r\n{}", SplitRule::Runs);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0], "a");
  EXPECT_EQ(t[1], "b");
}

}  // namespace
}  // namespace qz
