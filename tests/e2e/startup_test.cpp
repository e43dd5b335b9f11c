// The launcher as a player meets it at start-up: the token, the single
// instance and the launch record.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <cwchar>

#include "base/win_text.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/win_test_support.h"
#include "ui/resource_ids.h"
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

TEST(StartUp, SecondLauncherIsTurnedAwayButNotByARefusedStart) {
  // The first one holds the mutex while it waits for its manifest.
  LaunchBlock block{};
  std::strcpy(block.AutoDownURL, ServerUrl("~hang/game.txt").c_str());
  LauncherRun first = StartLauncher(block);
  ASSERT_NE(e2e::WaitForDialogWithControl(first.process.pid(), IDC_WAIT_TEXT), nullptr);

  LauncherRun valid = StartLauncherWithToken("K2222_33333");
  EXPECT_EQ(ExpectStartUpMessage(valid.process, texts::kAlreadyRunning), Exit(ExitCode::Stopped));
  // The token is checked before the mutex.
  LauncherRun invalid = StartLauncherWithToken("bad");
  EXPECT_EQ(ExpectStartUpMessage(invalid.process, texts::kBadParameter), Exit(ExitCode::Stopped));
  first.process.Kill();
  first.process.Wait(kWait);

  // A refused start lets go of the mutex before its message: the next start
  // gets as far as its own record.
  LauncherRun refused = StartLauncherWithToken("K1234_56789");
  HWND refusedBox = WaitForMessageBox(refused.process.pid(), kWait);
  ASSERT_NE(refusedBox, nullptr);
  LauncherRun next = StartLauncherWithToken("K2222_33333");
  EXPECT_EQ(ExpectStartUpMessage(next.process, texts::kDataReadFailed), Exit(ExitCode::Stopped));
  Press(refusedBox, IDOK);
  EXPECT_EQ(refused.process.Wait(kWait), Exit(ExitCode::Stopped));
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
  // Access for the player (its owner), SYSTEM and the administrators only.
  // (Wine keeps no access lists: it shows the owner, SYSTEM and what the
  // folder's mode gives everyone, which for this folder is nothing.)
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(work.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor),
            ERROR_SUCCESS);
  ASSERT_NE(dacl, nullptr);
  EXPECT_GE(dacl->AceCount, 2);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    EXPECT_TRUE(EqualSid(sid, owner) || IsWellKnownSid(sid, WinLocalSystemSid) ||
                IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        << "entry " << i << " is for someone else";
  }
  LocalFree(descriptor);
}

// A work folder the player did not make for himself is never used: the
// launcher says so and changes nothing. The temporary folder of the profile
// is the only place for it.
TEST(StartUp, WorkFolderNotThePlayersOwnIsRefused) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string work = std::string(temp) + "~qztmp\\";
  char tmp[MAX_PATH] = {};
  const bool hadTmp = GetEnvironmentVariableA("TMP", tmp, MAX_PATH) != 0;
  wchar_t refused[1024];
  std::swprintf(refused, 1024, texts::kWorkFolderRefusedFormat, AnsiToWide(work).c_str());
  const struct {
    const char* planted;  // a folder's access list, or "file" for a file of that name
    const char* tmp;      // the TMP the launcher is started with; null: unchanged
    const wchar_t* text;
  } cases[] = {
      {"D:(A;OICI;FA;;;WD)", nullptr, refused},       // anyone may do anything
      {"D:(A;OICI;0x1301bf;;;WD)", nullptr, refused},  // anyone may change it
      {"file", nullptr, refused},
      {nullptr, "C:\\no such folder\\", texts::kNoTempFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planted ? c.planted : c.tmp);
    if (c.planted && std::string(c.planted) == "file") {
      ASSERT_TRUE(WriteFileBytes(work.substr(0, work.size() - 1), "planted"));
    } else if (c.planted) {
      ASSERT_TRUE(MakeFolderWithAccess(work, c.planted));
    }
    if (c.tmp) SetEnvironmentVariableA("TMP", c.tmp);
    LaunchBlock block{};
    LauncherRun run = StartLauncher(block);
    if (c.tmp) SetEnvironmentVariableA("TMP", hadTmp ? tmp : nullptr);
    ASSERT_TRUE(run.process);
    EXPECT_EQ(ExpectStartUpMessage(run.process, c.text), Exit(ExitCode::Stopped));
    EXPECT_FALSE(FileExists(work + "Quorlynx.log")) << "nothing written there";
    DeleteFileA((work + "Quorlynx.log").c_str());
    DeleteFileA(work.substr(0, work.size() - 1).c_str());
    RemoveDirectoryA(work.c_str());
  }
}

}  // namespace
}  // namespace qz
