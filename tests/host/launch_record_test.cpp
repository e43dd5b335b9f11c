#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <utility>

#include "base/field_text.h"
#include "base/folders.h"
#include "launcher/change_line.h"
#include "record/launch_block.h"
#include "record/section_name.h"

namespace qz {
namespace {

TEST(SectionName, KnownTicks) {
  struct Case {
    std::uint32_t t1, t2;
    const char* launcher;
    const char* game;
  } cases[] = {
      {0, 0, "K1000_10000", "KG1000_10000"},
      {1000, 1000, "K7937_72000", "KG7937_72000"},
      {1, 1, "K2047_24272", "KG2047_24272"},
      // The two readings differ when the tick moves between them.
      {1000, 1, "K7937_24272", "KG7937_24272"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "ticks " << c.t1 << "," << c.t2);
    EXPECT_EQ(SectionName(SectionForm::Launcher, c.t1, c.t2), c.launcher);
    EXPECT_EQ(SectionName(SectionForm::Game, c.t1, c.t2), c.game);
  }
}

TEST(SectionName, FixedLengthOverWholeTickRange) {
  // Wrapping 32-bit products must still give 4 and 5 digits.
  for (std::uint64_t t = 0; t <= 0xFFFFFFFFull; t += 65521u * 131u) {
    const auto tick = static_cast<std::uint32_t>(t);
    const std::string k = SectionName(SectionForm::Launcher, tick, tick ^ 0x5A5A5A5Au);
    const std::string kg = SectionName(SectionForm::Game, tick, tick);
    ASSERT_EQ(k.size(), 11u) << k << " at " << tick;
    ASSERT_EQ(kg.size(), 12u) << kg << " at " << tick;
    ASSERT_TRUE(IsLauncherToken(k.c_str())) << k;
    ASSERT_FALSE(IsLauncherToken(kg.c_str())) << kg;
  }
  for (std::uint32_t tick : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 0x7FFFFFFFu}) {
    const SectionNumbers n = SectionNumbersFromTicks(tick, tick);
    EXPECT_GE(n.a, 1000u);
    EXPECT_LE(n.a, 9999u);
    EXPECT_GE(n.b, 10000u);
    EXPECT_LE(n.b, 99999u);
  }
}

TEST(LauncherToken, AcceptsOnlyControlNames) {
  struct Case {
    const char* token;
    bool ok;
  } cases[] = {
      {"K1000_10000", true}, {"k1000_10000", false}, {"KG1000_10000", false},
      {"", false},           {"K1000_1000", false},  {"X1000_10000", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLauncherToken(c.token), c.ok) << "'" << c.token << "'";
  EXPECT_FALSE(IsLauncherToken(nullptr));
}

TEST(LauncherToken, ReceiversFindTheirArguments) {
  struct Case {
    const char* line;
    const char* args;
  } cases[] = {
      {"\"C:\\Program Files\\g.exe\" KG1000_10000", "KG1000_10000"},
      {"C:\\g.exe   KG1000_10000 x y", "KG1000_10000 x y"},
      {"\"C:\\g.exe\"", ""},
      {"\"unterminated", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ArgumentsAfterProgram(c.line), c.args) << c.line;
  EXPECT_EQ(ArgumentsAfterProgram(nullptr), "");
}

// The elevated copy's command line has one shape; everything else is
// refused, and no shape of it passes for a launcher token.
TEST(ChangeLine, OnlyTheExactFormIsTaken) {
  struct Case {
    const char* line;
    bool ok;
    bool avatar;
  } cases[] = {
      {"/change game K1234_56789", true, false},
      {"/change avatar K1000_10000", true, true},
      {"/change game K1234_56789 ", false, false},   // trailing blank
      {"/change  game K1234_56789", false, false},   // two blanks
      {"/change Game K1234_56789", false, false},
      {"/change game KG1234_56789", false, false},   // a game's section
      {"/change game K1234-56789", false, false},
      {"/change game K12a4_56789", false, false},
      {"/change game K1234_5678", false, false},
      {"/change game", false, false},
      {"/CHANGE game K1234_56789", false, false},
      {"\"/change game K1234_56789\"", false, false},
      {"K1234_56789", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto line = ParseChangeLine(c.line);
    ASSERT_EQ(line.has_value(), c.ok);
    if (!line) continue;
    EXPECT_FALSE(IsLauncherToken(c.line));
    EXPECT_EQ(line->avatar, c.avatar);
    EXPECT_EQ(line->section, std::string(c.line).substr(std::string(c.line).size() - 11));
    EXPECT_EQ(ChangeLineText(line->avatar, line->section), c.line) << "written as it is read";
  }
  EXPECT_FALSE(ParseChangeLine(nullptr));
}

TEST(LaunchBlock, FieldTableIsTheStructAndTheDocumentedLayout) {
  // What the game copies: each member where the table puts it, as wide.
  const LaunchBlock block{};
  const char* base = reinterpret_cast<const char*>(&block);
  const struct {
    const char* at;
    std::size_t width;
  } members[] = {
      {block.RunMode, sizeof block.RunMode},           {block.ProgName, sizeof block.ProgName},
      {block.AuthCookie, sizeof block.AuthCookie},     {block.DataCookie, sizeof block.DataCookie},
      {block.AvatarCookie, sizeof block.AvatarCookie}, {block.ServIP, sizeof block.ServIP},
      {block.ServPort, sizeof block.ServPort},         {block.FullDownURL, sizeof block.FullDownURL},
      {block.AutoDownURL, sizeof block.AutoDownURL},   {block.CommonURL, sizeof block.CommonURL},
      {block.Spare, sizeof block.Spare},
  };
  ASSERT_EQ(std::size(members), kLaunchFieldCount);
  // What game makers build against: the README's table of the record.
  std::ifstream in(QZ_README, std::ios::binary);
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::map<std::string, std::pair<std::size_t, std::size_t>> documented;
  const std::regex row(R"(\|\s*(\d+)\s*\|\s*(\d+)\s*\|\s*`(\w+)`)");
  for (std::sregex_iterator m(readme.begin(), readme.end(), row), end; m != end; ++m) {
    documented[(*m)[3]] = {std::stoul((*m)[1]), std::stoul((*m)[2])};
  }

  std::size_t next = 0;
  for (std::size_t i = 0; i < kLaunchFieldCount; ++i) {
    const LaunchBlockField& f = kLaunchBlockFields[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.offset, next);
    EXPECT_EQ(static_cast<std::size_t>(members[i].at - base), f.offset);
    EXPECT_EQ(members[i].width, f.width);
    EXPECT_EQ(documented[f.name], std::make_pair(f.offset, f.width));
    next = f.offset + f.width;
  }
  EXPECT_EQ(next, 1492u);
  EXPECT_EQ(sizeof(LaunchBlock), 1492u);
}

TEST(LaunchBlock, FieldsAreCutZeroPaddedAndReadBounded) {
  LaunchBlock block;
  std::memset(&block, 'x', sizeof block);

  SetField(block.RunMode, "0123456789abcdef");  // exactly 16: no terminator
  EXPECT_EQ(std::memchr(block.RunMode, 0, sizeof block.RunMode), nullptr);
  EXPECT_EQ(FieldText(block.RunMode), "0123456789abcdef");
  // The bounded read must not run into the next field.
  SetField(block.ProgName, "game");
  EXPECT_EQ(FieldText(block.RunMode), "0123456789abcdef");

  SetField(block.RunMode, "0123456789abcdefGHIJ");  // 20 bytes cut to 16
  EXPECT_EQ(FieldText(block.RunMode), "0123456789abcdef");
  EXPECT_EQ(FieldText(block.ProgName), "game");

  SetField(block.ServPort, "80");  // shorter: terminated and padded
  EXPECT_EQ(std::string(block.ServPort, 6), std::string("80\0\0\0\0", 6));

  // A double-byte character whose lead byte is the last byte is split.
  SetField(block.ServPort, "12345\x82\xa0");
  EXPECT_EQ(std::string(block.ServPort, 6), "12345\x82");

  SetField(block.Spare, "");
  EXPECT_EQ(std::string(block.Spare, sizeof block.Spare), std::string(sizeof block.Spare, '\0'));
}

TEST(Folders, WorkFolderAndBackslashes) {
  EXPECT_EQ(WorkDirBelow("C:\\users\\me\\Temp\\"), "C:\\users\\me\\Temp\\~qztmp\\");
  EXPECT_EQ(WorkDirBelow("C:\\Temp"), "C:\\Temp\\~qztmp\\");
  EXPECT_EQ(WorkDirBelow(""), "") << "no fallback outside the player's profile";
  EXPECT_EQ(WithTrailingBackslash(""), "");

  char field[8];
  CopyCut(field, "0123456789");
  EXPECT_STREQ(field, "0123456");
}

}  // namespace
}  // namespace qz
