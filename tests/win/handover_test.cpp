// The launch record between two real processes.
#include <gtest/gtest.h>

#include "record/handover.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

LaunchBlock PatternedBlock() {
  LaunchBlock block;
  auto* bytes = reinterpret_cast<unsigned char*>(&block);
  for (size_t i = 0; i < sizeof block; ++i) bytes[i] = static_cast<unsigned char>(1 + i % 251);
  SetField(block.RunMode, "Vltw_OnlySetup");
  SetField(block.ServPort, "123456");  // full width: no terminator
  SetField(block.ServIP, "127.0.0.1");
  return block;
}

TEST(HandOver, ReceiverGetsEveryByteWithQuotedPathAndFolder) {
  const std::string dir = NewTempDir("game dir ");  // a blank in the path
  const std::string exe = dir + "game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", exe));
  const LaunchBlock block = PatternedBlock();

  ASSERT_TRUE(HandOverBlock(block, exe, dir.c_str(), SectionForm::Game, 3000));
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  EXPECT_EQ(record["block"], "ok");
  const std::string args = record["args"];
  EXPECT_EQ(args.size(), 12u) << args;
  EXPECT_EQ(args.substr(0, 2), "KG");
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + args);
  EXPECT_EQ(record["cwd"] + "\\", dir);

  const std::string got = ReadFileBytes(exe + ".block");
  ASSERT_EQ(got.size(), sizeof block);
  EXPECT_EQ(got, std::string(reinterpret_cast<const char*>(&block), sizeof block));
  LaunchBlock received;
  std::memcpy(&received, got.data(), sizeof received);
  EXPECT_EQ(FieldText(received.ServPort), "123456");
  EXPECT_EQ(FieldText(received.ServIP), "127.0.0.1");
}

TEST(HandOver, LateReceiverFindsNoSection) {
  const std::string dir = NewTempDir("late");
  const std::string exe = dir + "game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", exe));
  SetEnvironmentVariableA("QZ_STANDIN_DELAY_MS", "2000");
  const bool started = HandOverBlock(PatternedBlock(), exe, dir.c_str(), SectionForm::Game, 200);
  SetEnvironmentVariableA("QZ_STANDIN_DELAY_MS", nullptr);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  EXPECT_EQ(ReadRecord(exe + ".record.txt")["block"], "none");
}

TEST(HandOver, MissingProgramFailsAndLeavesNoSection) {
  const std::string dir = NewTempDir("missing");
  const DWORD start = GetTickCount();
  EXPECT_FALSE(HandOverBlock(PatternedBlock(), dir + "nothing.exe", dir.c_str(), SectionForm::Game, 10000));
  EXPECT_LT(GetTickCount() - start, 5000u) << "a failed start must not wait out the delay";
  // The name is drawn from the tick count; no section of the moment remains.
  const DWORD t = GetTickCount();
  LaunchBlock out;
  for (DWORD d = 0; d < 2000; d += 1) {
    const std::string name = SectionName(SectionForm::Game, t - d, t - d);
    ASSERT_FALSE(TakeOverBlock(name.c_str(), &out)) << name;
  }
}

TEST(HandOver, CommandLineIsQuotedAndBounded) {
  EXPECT_EQ(QuotedCommandLine("C:\\Program Files\\g.exe", "KG1000_10000"),
            "\"C:\\Program Files\\g.exe\" KG1000_10000");
  const std::string longPath(250, 'a');
  EXPECT_EQ(QuotedCommandLine(longPath, "KG1000_10000"), "");
  EXPECT_EQ(QuotedCommandLine(std::string(259 - 3 - 12, 'b'), "KG1000_10000").size(), 259u);
}

}  // namespace
}  // namespace qz
