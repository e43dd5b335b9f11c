// Windows as players run it: a launcher that may not write where a change
// goes hands the change to its elevated copy, and a player may decline the
// rights prompt. Under Wine every process holds an administrator's token, so
// two support settings that only a machine's administrators can set stand in
// for a standard account: TestNoWriteRights (the rights check answers "may
// not write": 1 everywhere, 2 for the files a patch replaces) and
// TestDeclineElevation (every rights prompt is declined).
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "tests/e2e/e2e_support.h"
#include "base/service_channel.h"
#include "record/handover.h"
#include "tests/win/control_test_support.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const std::string kRecordKey = std::string("SOFTWARE\\Veltoworks\\") + kProg;

void SetProductNumber(const char* name, DWORD value) {
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

std::vector<std::string> LinesWith(const std::string& log, const std::string& fragment) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find(fragment) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

class RightsTest : public testing::Test {
 protected:
  void SetUp() override {
    // An administrator's change takes only releases the machine's keys signed.
    SetManifestKeys({signer_.PublicKeyLine()});
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Veltoworks\\Seen");
    gameDir_ = NewTempDir("Velto Game ");
    SetProductNumber("RetryDelayMs", 50);
    // The elevated copy is the launcher installed in the Windows folder.
    ASSERT_TRUE(CopyProgram("Quorlynx.exe", LauncherPath()));
    exe_ = InstallGame(gameDir_);
    WriteInstallRecord(kProg, "100", gameDir_, exe_);
    WriteFileBytes(gameDir_ + "a.txt", "100");
    Publish("patch/p101.zip", ZipOf({{"a.txt", "101"}}));
  }
  void TearDown() override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, "TestNoWriteRights");
    RegDeleteValueA(key, "TestDeclineElevation");
    RegCloseKey(key);
    SetManifestKeys({});
  }
  std::string GameManifest(unsigned serial = 1000, const std::string& extraLines = "") {
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = 100;
    plan.baseUrl = ServerUrl("patch");
    plan.files = {{101, "p101.zip"}};
    return PublishSignedManifest("game.txt", plan, signer_, "game", serial, extraLines);
  }
  std::string AvatarManifest() {
    PublishAvatarManifest({{102, "a102.zip"}});  // its archives
    ManifestPlan plan;
    plan.progName = "Avatar";
    plan.minVer = 100;
    plan.fullUrl = ServerUrl("avatar/full.zip");
    plan.baseUrl = ServerUrl("avatar");
    plan.files = {{102, "a102.zip"}};
    return PublishSignedManifest("avatar.txt", plan, signer_, "avatar");
  }

  TestSigner signer_;
  std::string gameDir_;
  std::string exe_;
};

// Both changes of one start (the missing avatar module, then the game's
// patch) go to elevated copies; the player's own launcher starts the game.
TEST_F(RightsTest, ChangesThisAccountMayNotWriteAreMadeByTheElevatedCopy) {
  SetProductNumber("TestNoWriteRights", 1);
  const LaunchBlock block = BlockWith(GameManifest(), AvatarManifest());
  LauncherRun run = StartLauncher(block);

  auto game = GameRecord(exe_, kWait * 2);
  ASSERT_EQ(game["block"], "ok") << SupportLog();
  EXPECT_EQ(game["parent"], std::to_string(run.process.pid())) << "started by the player's own launcher";
  EXPECT_EQ(ReadFileBytes(exe_ + ".block"), std::string(reinterpret_cast<const char*>(&block), sizeof block));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "101");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
  EXPECT_EQ(ReadFileBytes(AvatarModulePath()), "module full");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks\\Avatar", "Version"), "102");

  // The log tells it: two elevated copies, each another process, each
  // recording its change once; the game started by the first launcher.
  const std::string log = SupportLog();
  EXPECT_EQ(LinesWith(log, "[rights] this account may not write").size(), 2u) << log;
  const auto starts = LinesWith(log, "[start] elevated copy, process ");
  ASSERT_EQ(starts.size(), 2u) << log;
  for (const std::string& line : starts) {
    EXPECT_EQ(line.find("[elevated]"), 24u) << "brought back from the copy: " << line;
    const std::size_t at = line.find("process ") + 8;
    EXPECT_NE(std::stoul(line.substr(at)), run.process.pid()) << line;
  }
  for (const char* written : {"[record] VeltoGame: version 101 written", "[record] Avatar: version 102 written"}) {
    const auto lines = LinesWith(log, written);
    ASSERT_EQ(lines.size(), 1u) << written << "\n" << log;
    EXPECT_NE(lines[0].find("[elevated]"), std::string::npos) << lines[0];
  }
  const auto started = LinesWith(log, "[game] started " + exe_);
  ASSERT_EQ(started.size(), 1u) << log;
  EXPECT_EQ(started[0].find("[elevated]"), std::string::npos) << started[0];
  // Nothing of the copies' downloads is left, in the player's folder or theirs.
  EXPECT_FALSE(FileExists(WorkDir() + "101_p101.zip"));
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  WIN32_FIND_DATAA found{};
  HANDLE left = FindFirstFileA((std::string(windows) + "\\Temp\\Quorlynx-*").c_str(), &found);
  EXPECT_EQ(left, INVALID_HANDLE_VALUE) << found.cFileName;
  if (left != INVALID_HANDLE_VALUE) FindClose(left);

  // The machine's floor and the manifest's address are kept where only
  // administrators write. An older signed release is refused even after the
  // player's own floor (HKCU) is gone.
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "ManifestURL"), ServerUrl("game.txt"));
  DWORD serial = 0;
  DWORD size = sizeof serial;
  RegGetValueA(HKEY_LOCAL_MACHINE, kRecordKey.c_str(), "Serial", RRF_RT_REG_DWORD, nullptr, &serial, &size);
  EXPECT_EQ(serial, 1000u);
  WriteInstallRecord(kProg, "100", gameDir_, exe_);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Veltoworks\\Seen");
  LauncherRun rollback = StartLauncher(BlockWith(GameManifest(900)));
  HWND box = WaitForMessageBox(rollback.process.pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), texts::kUpdateFailed) << SupportLog();
  Press(box, IDOK);
  EXPECT_EQ(rollback.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(LinesWith(SupportLog(), "its Serial is lower than one accepted before").size(), 1u);
}

// On a PC that names no publisher's key the player is not even asked for
// rights: an administrator's change takes only signed releases. A record
// handed over in a section the player's processes could rewrite is not
// believed by the elevated copy.
TEST_F(RightsTest, ElevatedChangesTakeOnlySignedReleasesFromARecordThePlayerCannotChange) {
  SetProductNumber("TestNoWriteRights", 1);
  const std::string manifest = GameManifest();
  SetManifestKeys({});
  LauncherRun run = StartLauncher(BlockWith(manifest));
  EXPECT_TRUE(Answer(run.process.pid(), texts::kUnsignedChangeRefused, IDOK)) << SupportLog();
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "100");
  EXPECT_EQ(LinesWith(SupportLog(), "[start] elevated copy").size(), 0u) << "no copy was started";
  EXPECT_EQ(CountRequests("p101"), 0);

  SetManifestKeys({signer_.PublicKeyLine()});
  WriteFileBytes(ServerRoot() + ".requests", "");
  PublishedRecord writable;
  ASSERT_TRUE(writable.Publish(BlockWith(manifest), SectionForm::Launcher, 65536, SectionAccess::Owner));
  Process copy = StartProcess("\"" + LauncherPath() + "\" /change game " + writable.Name());
  EXPECT_TRUE(Answer(copy.pid(), texts::kDataReadFailed, IDOK));
  EXPECT_EQ(copy.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "100");
  EXPECT_EQ(CountRequests("game.txt"), 0) << "nothing was fetched for it";
}

// The game's folder may be written, one file the patch replaces may not:
// found while the archives are read through, before anything is written.
// A delta archive's targets are asked the same way, before any is changed.
TEST_F(RightsTest, FileThePatchReplacesThatThisAccountMayNotWriteGoesToTheElevatedCopy) {
  SetProductNumber("TestNoWriteRights", 2);  // only the files a patch replaces
  const std::string locked = gameDir_ + "a.txt";
  for (const bool delta : {false, true}) {
    SCOPED_TRACE(delta ? "delta archive" : "whole-file patch");
    WriteFileBytes(locked, "100");
    WriteInstallRecord(kProg, "100", gameDir_, exe_);
    DeleteFileA((exe_ + ".record.txt").c_str());
    const std::size_t logBefore = SupportLog().size();
    std::string manifest = GameManifest();
    if (delta) {
      const std::string archive = DeltaArchiveOf({{"a.txt", "100", "101"}}, {});
      Publish("patch/p101.qzd", archive);
      manifest = GameManifest(1000, DeltaLines(101, "p101.qzd", archive));
    }
    LauncherRun run = StartLauncher(BlockWith(manifest));
    ASSERT_EQ(GameRecord(exe_, kWait * 2)["block"], "ok") << SupportLog();
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
    EXPECT_EQ(ReadFileBytes(locked), "101");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
    std::string log = SupportLog();
    if (log.size() >= logBefore) log = log.substr(logBefore);
    EXPECT_EQ(LinesWith(log, "[rights] this account may write").size(), 1u) << log;
    EXPECT_EQ(LinesWith(log, "[download] failed: this account may not write: " + locked).size(), 1u) << log;
    EXPECT_EQ(LinesWith(log, "[start] elevated copy, process ").size(), 1u) << log;
    EXPECT_EQ(LinesWith(log, "VeltoGame: version 101 written").size(), 1u) << log;
    EXPECT_EQ(LinesWith(log, "delta applied").size(), delta ? 1u : 0u) << log;
  }
}

TEST_F(RightsTest, DeclinedRightsChangeNothingAndStartNothing) {
  SetProductNumber("TestNoWriteRights", 1);
  SetProductNumber("TestDeclineElevation", 1);
  LauncherRun run = StartLauncher(BlockWith(GameManifest()));
  HWND box = WaitForMessageBox(run.process.pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), texts::kRightsDeclined);
  Screenshot(box, "rights_declined");
  Press(box, IDOK);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Declined));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "100");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
  EXPECT_EQ(CountRequests("p101"), 0) << "nothing is downloaded for a change nobody may make";
  EXPECT_FALSE(FileExists(exe_ + ".record.txt")) << "the game is not started";
}

// The maintenance service, registered as the client package registers it,
// and a game an administrator's change installed and recorded (its
// manifest's address and Serial in the machine's record). The launcher asks
// the service before it asks for rights. Wine keeps no folder's list: the
// service and the test share one account, and the game's folder counts as
// the service's own (the rights test's descriptor table has the rest).
class ServiceTest : public RightsTest {
 protected:
  void SetUp() override {
    RightsTest::SetUp();
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    const std::string program = std::string(windows) + "\\QuorlynxService.exe";
    ASSERT_TRUE(CopyProgram("QuorlynxService.exe", program));
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr);
    service_ = CreateServiceA(manager_, kServiceName, "Velto OneClick maintenance", SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                              ("\"" + program + "\"").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service_, nullptr) << GetLastError();
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kRecordKey.c_str(), &key), ERROR_SUCCESS);
    const std::string url = ServerUrl("game.txt");
    RegSetValueExA(key, "ManifestURL", 0, REG_SZ, reinterpret_cast<const BYTE*>(url.c_str()),
                   static_cast<DWORD>(url.size() + 1));
    const DWORD serial = 999;
    RegSetValueExA(key, "Serial", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&serial), sizeof serial);
    RegCloseKey(key);
  }
  void TearDown() override {
    SERVICE_STATUS status{};
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100 && QueryServiceStatus(service_, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
      Sleep(50);
    DeleteService(service_);
    CloseServiceHandle(service_);
    CloseServiceHandle(manager_);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "ServiceDisabled");
      RegCloseKey(key);
    }
    RightsTest::TearDown();
  }
  // What the service answers a request, its progress and log lines aside.
  std::string Ask(const std::string& request) {
    std::string why;
    FileHandle pipe = OpenServiceChannel(10000, why);
    if (!pipe) return "no channel: " + why;
    if (!WriteServiceMessage(pipe.get(), request)) return "not sent";
    for (std::string message; ReadServiceMessage(pipe.get(), message);) {
      if (message.rfind("Outcome ", 0) == 0) return message;
    }
    return "no outcome";
  }
  void ExpectNothingChanged() {
    EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "100");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "100");
    EXPECT_EQ(CountRequests("p101"), 0);
  }

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

// A player who may not write the game gets the upgrade from the service: no
// prompt, no elevated copy; the service's lines land in the player's log.
TEST_F(ServiceTest, UpgradeIsAppliedByTheServiceWithoutAnElevatedCopy) {
  SetProductNumber("TestNoWriteRights", 1);
  LauncherRun run = StartLauncher(BlockWith(GameManifest()));
  ASSERT_EQ(GameRecord(exe_, kWait * 2)["block"], "ok") << SupportLog();
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "101");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRecordKey, "Version"), "101");
  const std::string log = SupportLog();
  EXPECT_EQ(LinesWith(log, "[rights] asked the maintenance service to bring VeltoGame up to date").size(), 1u) << log;
  EXPECT_EQ(LinesWith(log, "[rights] the maintenance service answered: Outcome Applied").size(), 1u) << log;
  const auto written = LinesWith(log, "[record] VeltoGame: version 101 written");
  ASSERT_EQ(written.size(), 1u) << log;
  EXPECT_NE(written[0].find("[service]"), std::string::npos) << written[0];
  EXPECT_EQ(LinesWith(log, "[start] elevated copy").size(), 0u) << log;
  DWORD serial = 0;
  DWORD size = sizeof serial;
  RegGetValueA(HKEY_LOCAL_MACHINE, kRecordKey.c_str(), "Serial", RRF_RT_REG_DWORD, nullptr, &serial, &size);
  EXPECT_EQ(serial, 1000u);
}

// A service that cannot be started, or one the operator turned off: the
// elevated copy makes the change, and the log says why.
TEST_F(ServiceTest, ServiceThatIsOffFallsBackToTheElevatedCopy) {
  SetProductNumber("TestNoWriteRights", 1);
  const struct {
    bool stopped;  // else ServiceDisabled
    const char* why;
  } cases[] = {{true, "the maintenance service did not start"}, {false, "it is turned off on this PC"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    WriteInstallRecord(kProg, "100", gameDir_, exe_);
    WriteFileBytes(gameDir_ + "a.txt", "100");
    DeleteFileA((exe_ + ".record.txt").c_str());
    if (c.stopped) {
      ASSERT_TRUE(ChangeServiceConfigA(service_, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    } else {
      ChangeServiceConfigA(service_, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr);
      SetProductNumber("ServiceDisabled", 1);
    }
    const std::size_t before = SupportLog().size();
    LauncherRun run = StartLauncher(BlockWith(GameManifest(c.stopped ? 1000 : 1001)));
    ASSERT_EQ(GameRecord(exe_, kWait * 2)["block"], "ok") << SupportLog();
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
    EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "101");
    const std::string log = SupportLog().substr(before);
    EXPECT_EQ(LinesWith(log, std::string("[rights] not through the maintenance service: ") + c.why).size(), 1u)
        << log;
    EXPECT_EQ(LinesWith(log, "[start] elevated copy, process ").size(), 1u) << log;
  }
}

// What the service will not serve, asked on its channel as any program of
// the player's could: refused, with nothing fetched or changed.
TEST_F(ServiceTest, RefusesWhatItMayNotServeAndChangesNothing) {
  const struct {
    const char* name;
    std::string request;
    std::function<void()> arrange;
    const char* outcome;
  } cases[] = {
      {"path", "Update C:\\Windows\\System32", nullptr, "Outcome Refused BadRequest"},
      {"address", "Update https://dl.example/m.txt", nullptr, "Outcome Refused BadRequest"},
      {"unregistered", "Update OtherGame", nullptr, "Outcome Refused NotRegistered"},
      {"folder gone", "Update VeltoGame", [this] { WriteInstallRecord(kProg, "100", gameDir_ + "gone\\", exe_); },
       "Outcome Refused FolderWritable"},
      {"no keys", "Update VeltoGame", [] { SetManifestKeys({}); }, "Outcome Refused NoKeys"},
      {"rollback", "Update VeltoGame", [this] { GameManifest(998); }, "Outcome Refused NotAbove"},
      {"replayed", "Update VeltoGame", [this] { GameManifest(999); }, "Outcome Refused NotAbove"},
      {"turned off", "Update VeltoGame", [] { SetProductNumber("ServiceDisabled", 1); },
       "Outcome Refused Disabled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GameManifest();
    SetManifestKeys({signer_.PublicKeyLine()});
    WriteInstallRecord(kProg, "100", gameDir_, exe_);
    if (c.arrange) c.arrange();
    EXPECT_EQ(Ask(c.request), c.outcome);
    ExpectNothingChanged();
    SetProductNumber("ServiceDisabled", 0);
  }
  // The same service then serves a good request.
  GameManifest();
  EXPECT_EQ(Ask("Update VeltoGame"), "Outcome Applied");
  EXPECT_EQ(ReadFileBytes(gameDir_ + "a.txt"), "101");
}

}  // namespace
}  // namespace qz::e2e
