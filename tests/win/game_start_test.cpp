// Starting the game: the stand-in game records its command line, folder, the
// record it took over and whether the start mutex existed when it started.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "record/handover.h"
#include "launcher/launcher_app.h"
#include "tests/winsupport/launcher_app_peer.h"
#include "record/section_name.h"
#include "tests/win/scratch_registry.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

std::string StandInGame(const std::string& stem) {
  const std::string exe = NewTempDir(stem) + "game.exe";
  EXPECT_TRUE(CopyProgram("standin_game.exe", exe));
  return exe;
}
std::string FolderOf(const std::string& exe) { return exe.substr(0, exe.find_last_of('\\') + 1); }

TEST(GameStart, HandOverDeliversTheRecordAsTheGameNeedsIt) {
  const std::string exe = StandInGame("hand over ");  // a blank in the path
  auto app = std::make_unique<LauncherApp>();
  SetField(LauncherAppPeer(*app).block().RunMode, "normal");
  SetField(LauncherAppPeer(*app).block().AuthCookie, std::string(256, 'A'));  // full width, no terminator
  SetField(LauncherAppPeer(*app).block().AvatarCookie, "avatar=1;x");
  SetField(LauncherAppPeer(*app).block().ServIP, "192.168.10.20");
  SetField(LauncherAppPeer(*app).block().ServPort, "123456");
  SetField(LauncherAppPeer(*app).block().Spare, "DxMin=6&Opt=1");

  const DWORD start = GetTickCount();
  EXPECT_EQ(app->StartGameWithHandOver(exe.c_str(), FolderOf(exe).c_str()), 1);
  EXPECT_GE(GetTickCount() - start, 9500u) << "the record is kept for the game for 10 s";

  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  EXPECT_EQ(record["block"], "ok");
  EXPECT_EQ(record["args"].substr(0, 2), "KG");
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + record["args"]);
  EXPECT_EQ(record["cwd"] + "\\", FolderOf(exe));
  const std::string got = ReadFileBytes(exe + ".block");
  ASSERT_EQ(got.size(), sizeof(LaunchBlock));
  LaunchBlock received;
  std::memcpy(&received, got.data(), sizeof received);
  EXPECT_EQ(std::string(received.AuthCookie, 256), std::string(256, 'A'));
  EXPECT_EQ(FieldText(received.AvatarCookie), "avatar=1;x");
  EXPECT_EQ(FieldText(received.ServIP), "192.168.10.20");
  EXPECT_EQ(std::string(received.ServPort, 6), "123456");
  EXPECT_EQ(std::string(received.Spare, 14), std::string("DxMin\0" "6\0" "Opt\0" "1\0", 14))
      << "Spare arrives as the DirectX check split it";
}

TEST(GameStart, WithArgumentsTheMutexExistsWhenTheGameStarts) {
  const std::string exe = StandInGame("args ");
  auto app = std::make_unique<LauncherApp>();
  SetField(LauncherAppPeer(*app).block().DataCookie, "Mutex=1&Parm=QzStartMtx -server 10.0.0.1");
  app->ParseSetupParameters();
  ASSERT_STREQ(LauncherAppPeer(*app).setup().mutexName, "QzStartMtx");

  SetEnvironmentVariableA("QZ_STANDIN_MUTEX", "QzStartMtx");
  const int started =
      app->StartGameWithArguments(exe.c_str(), FolderOf(exe).c_str(), LauncherAppPeer(*app).setup().parm, LauncherAppPeer(*app).setup().useMutex, LauncherAppPeer(*app).setup().mutexName);
  SetEnvironmentVariableA("QZ_STANDIN_MUTEX", nullptr);
  EXPECT_EQ(started, 1);

  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" QzStartMtx -server 10.0.0.1")
      << "quoted path, one blank, the whole Parm";
  EXPECT_EQ(record["cwd"] + "\\", FolderOf(exe));
  EXPECT_EQ(record["mutex"], "1");
  Handle after(OpenMutexA(SYNCHRONIZE, FALSE, "QzStartMtx"));
  EXPECT_FALSE(after) << "closed after the hold";
}

TEST(GameStart, ExistingOrUnnamedMutexDoesNotStopTheStart) {
  struct Case {
    const char* id;
    const char* name;
  } cases[] = {{"a mutex of that name exists", "QzTakenMtx"}, {"Parm before Mutex: empty name", ""}};
  Handle taken(CreateMutexA(nullptr, FALSE, "QzTakenMtx"));
  ASSERT_TRUE(taken);
  // Both hold for 10 s; run them side by side.
  std::string exes[2];
  std::atomic<int> results[2] = {{-1}, {-1}};
  std::thread runs[2];
  for (int i = 0; i < 2; ++i) {
    exes[i] = StandInGame("mutex");
    runs[i] = std::thread([&, i] {
      auto app = std::make_unique<LauncherApp>();
      results[i] = app->StartGameWithArguments(exes[i].c_str(), FolderOf(exes[i]).c_str(), "-x", true,
                                               cases[i].name);
    });
  }
  for (int i = 0; i < 2; ++i) {
    runs[i].join();
    SCOPED_TRACE(cases[i].id);
    EXPECT_EQ(results[i], 1);
    EXPECT_TRUE(WaitForFile(exes[i] + ".record.txt", kWait));
  }
}

TEST(GameStart, MissingExecutableStartsNothingAndLeavesNothing) {
  const std::string dir = NewTempDir("missing");
  const std::string exe = dir + "nothing.exe";
  auto app = std::make_unique<LauncherApp>();
  const DWORD start = GetTickCount();
  EXPECT_EQ(app->StartGameWithHandOver(exe.c_str(), dir.c_str()), 0);
  EXPECT_EQ(app->StartGameWithArguments(exe.c_str(), dir.c_str(), "a", true, "QzMissingMtx"), 0);
  EXPECT_LT(GetTickCount() - start, 5000u) << "a failed start does not wait out the hold";
  Handle mutex(OpenMutexA(SYNCHRONIZE, FALSE, "QzMissingMtx"));
  EXPECT_FALSE(mutex) << "no start mutex is left behind";
  LaunchBlock out;
  const DWORD now = GetTickCount();
  for (DWORD d = 0; d < 6000; ++d) {
    const std::string name = SectionName(SectionForm::Game, now - d, now - d);
    ASSERT_FALSE(TakeOverBlock(name.c_str(), &out)) << name;
  }
}

// A batch file runs through cmd.exe, which reads "&" and "|" in the page's
// arguments as commands: only program files start, whatever names them.
TEST(GameStart, OnlyProgramFilesStart) {
  const std::string dir = NewTempDir("script");
  const std::string marker = dir + "ran";
  for (const char* name : {"run.cmd", "run.bat", "run.js", "game.lnk"}) {
    SCOPED_TRACE(name);
    const std::string target = dir + name;
    ASSERT_TRUE(WriteFileBytes(target, "mkdir \"" + marker + "\"\r\n"));
    auto app = std::make_unique<LauncherApp>();
    EXPECT_EQ(app->StartGameWithHandOver(target.c_str(), dir.c_str()), 0);
    EXPECT_EQ(app->StartGameWithArguments(target.c_str(), dir.c_str(), "& mkdir x", false, ""), 0);
  }
  Sleep(1000);
  EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(GameStart, GamesGetNoneOfOurHandles) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
  Handle reader(readEnd);
  Handle writer(writeEnd);
  SetEnvironmentVariableA("QZ_STANDIN_WRITE_HANDLE",
                          std::to_string(reinterpret_cast<std::uintptr_t>(writeEnd)).c_str());
  const std::string exes[2] = {StandInGame("handles"), StandInGame("handles")};
  // Both hold for 10 s; run them side by side.
  std::thread runs[2] = {
      std::thread([&] { std::make_unique<LauncherApp>()->StartGameWithHandOver(exes[0], ""); }),
      std::thread([&] {
        std::make_unique<LauncherApp>()->StartGameWithArguments(exes[1], "", "-x", false, "");
      }),
  };
  for (const std::string& exe : exes) EXPECT_TRUE(WaitForFile(exe + ".record.txt", kWait)) << exe;
  SetEnvironmentVariableA("QZ_STANDIN_WRITE_HANDLE", nullptr);
  DWORD waiting = 1;
  EXPECT_TRUE(PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &waiting, nullptr));
  EXPECT_EQ(waiting, 0u) << "a game wrote through a handle it inherited";
  for (std::thread& run : runs) run.join();
}

// The DirectX requirement, with the system's DirectX in a scratch registry.
class DirectXCheck : public ScratchRegistry {
 protected:
  struct Outcome {
    int result = -1;
    std::wstring text;
    std::wstring caption;
  };
  // Runs the check on a thread of its own and answers a message box it shows.
  static Outcome Run(const std::function<int()>& call) {
    Outcome out;
    std::atomic<bool> done{false};
    std::thread t([&] {
      out.result = call();
      done = true;
    });
    const DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < kWait) {
      for (HWND w : WindowsOf(GetCurrentProcessId())) {
        if (!IsMessageBox(w)) continue;
        out.text = MessageText(w);
        out.caption = TextOf(w);
        Press(w, IDOK);
      }
      Sleep(50);
    }
    t.join();
    return out;
  }
};

TEST_F(DirectXCheck, RequirementAgainstTheSystem) {
  const std::wstring refused9 =
      L"ゲームに必要なDirectXが以前のバージョンのままです。\r\nDirectX(バージョン9以上)をインストール後再実行してください。";
  struct Case {
    const char* id;
    const char* spare;
    const char* systemVersion;  // null: no DirectX key
    int result;
    bool message;
  } cases[] = {
      // The system says 1: reading it would refuse, so a pass proves it was not read.
      {"DxMin=6 never looks", "DxMin=6", "4.01.00.0000", 1, false},
      {"DxMin=9 on 08 refuses", "DxMin=9", "4.08.00.0400", 0, true},
      {"DxMin=9 on 09 passes", "DxMin=9", "4.09.00.0904", 1, false},
      {"lower-case dxmin asks for 0", "dxmin=9", "4.01.00.0000", 1, false},
      {"not starting with DxMin skips", "Opt=1&DxMin=9", "4.01.00.0000", 1, false},
      {"no DirectX key", "DxMin=9", nullptr, 1, false},
      {"no second part", "DxMin=9", "4", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX");
    if (c.systemVersion) SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX", "Version", c.systemVersion);
    auto app = std::make_unique<LauncherApp>();
    SetField(LauncherAppPeer(*app).block().Spare, c.spare);
    const Outcome out = Run([&] { return app->DirectXSufficient(); });
    EXPECT_EQ(out.result, c.result);
    if (c.message) {
      EXPECT_EQ(out.text, refused9);
      EXPECT_EQ(out.caption, L"お知らせ");
    } else {
      EXPECT_EQ(out.text, L"");
    }
  }
}

TEST_F(DirectXCheck, RefusedStartCreatesNoProcess) {
  SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX", "Version", "4.08.00.0400");
  const std::string exe = StandInGame("refused");
  auto app = std::make_unique<LauncherApp>();
  SetField(LauncherAppPeer(*app).block().Spare, "DxMin=9");
  EXPECT_EQ(Run([&] { return app->StartGameWithHandOver(exe.c_str(), FolderOf(exe).c_str()); }).result, 0);
  SetField(LauncherAppPeer(*app).block().Spare, "DxMin=9");
  EXPECT_EQ(Run([&] {
              return app->StartGameWithArguments(exe.c_str(), FolderOf(exe).c_str(), "", false, "");
            }).result,
            0);
  Sleep(1000);
  EXPECT_FALSE(FileExists(exe + ".record.txt"));
}

}  // namespace
}  // namespace qz
