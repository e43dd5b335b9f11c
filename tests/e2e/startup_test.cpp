// The launcher as a player meets it at start-up: the token, the single
// instance and the launch record.
#include <gtest/gtest.h>

#include "tests/winsupport/win_test_support.h"
#include "ui/texts.h"

namespace qz {
namespace {

using namespace qz::test;

// Expects exactly one message box with that text and the default caption,
// presses OK and returns the exit code.
DWORD ExpectStartUpMessage(const Process& process, const wchar_t* text) {
  HWND box = WaitForMessageBox(process.pid(), kWait);
  EXPECT_NE(box, nullptr) << "no message box";
  if (!box) return STILL_ACTIVE;
  EXPECT_EQ(MessageText(box), text);
  const std::wstring caption = TextOf(box);
  EXPECT_FALSE(caption.empty());
  EXPECT_NE(caption, texts::kNoticeCaption) << "start-up messages use the default title";
  Press(box, IDOK);
  return process.Wait(kWait);
}

TEST(StartUp, RejectedTokensShowTheParameterMessage) {
  for (const char* token : {"k1000_10000", "KG1000_10000", "", "K1000_1000"}) {
    SCOPED_TRACE(token);
    LauncherRun run = StartLauncherWithToken(token);
    ASSERT_TRUE(run.process);
    EXPECT_EQ(ExpectStartUpMessage(run.process, texts::kBadParameter), Exit(ExitCode::Stopped));
  }
}

TEST(StartUp, GoneSectionShowsTheDataReadMessage) {
  LauncherRun run = StartLauncherWithToken("K1234_56789");
  ASSERT_TRUE(run.process);
  EXPECT_EQ(ExpectStartUpMessage(run.process, texts::kDataReadFailed), Exit(ExitCode::Stopped));
}

TEST(StartUp, SecondLauncherIsTurnedAway) {
  // The first one holds the mutex while its data-read message is open.
  LauncherRun first = StartLauncherWithToken("K1234_56789");
  HWND firstBox = WaitForMessageBox(first.process.pid(), kWait);
  ASSERT_NE(firstBox, nullptr);

  LauncherRun valid = StartLauncherWithToken("K2222_33333");
  EXPECT_EQ(ExpectStartUpMessage(valid.process, texts::kAlreadyRunning), Exit(ExitCode::Stopped));
  // The token is checked before the mutex.
  LauncherRun invalid = StartLauncherWithToken("bad");
  EXPECT_EQ(ExpectStartUpMessage(invalid.process, texts::kBadParameter), Exit(ExitCode::Stopped));

  Press(firstBox, IDOK);
  EXPECT_EQ(first.process.Wait(kWait), Exit(ExitCode::Stopped));
}

TEST(StartUp, TakesTheRecordOverAndPreparesTheWorkFolder) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string work = std::string(temp) + "~qztmp";
  RemoveDirectoryA(work.c_str());
  ASSERT_FALSE(FileExists(work));

  LaunchBlock block{};  // no manifest address: nothing to do
  LauncherRun run = StartLauncher(block);
  ASSERT_TRUE(run.process);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_TRUE(WindowsOf(run.process.pid()).empty());
  const DWORD attributes = GetFileAttributesA(work.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
}  // namespace qz
