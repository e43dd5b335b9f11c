// The control as a portal page uses it: a script creates it by its ProgID,
// puts the launch values and calls Run; the installed launcher (a stand-in
// here) must receive exactly those values.
#include <gtest/gtest.h>

#include "record/handover.h"
#include "tests/e2e/e2e_support.h"
#include "tests/win/control_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

// Registers the control as an installer would and places the launcher (the
// stand-in unless told otherwise) in the Windows folder.
void PrepareMachine(const std::string& launcher = "standin_game.exe") {
  Process registration = StartProcess("regsvr32 /s \"" + BinDir() + "Tessacom1.dll\"");
  ASSERT_TRUE(registration);
  ASSERT_EQ(registration.Wait(kWait), 0u) << "regsvr32 failed";
  ASSERT_TRUE(PlaceStandInLauncher());
  if (launcher != "standin_game.exe") {
    ASSERT_TRUE(CopyProgram(launcher, LauncherPath()));
  }
}

// Runs a JScript file in the console script host; returns its exit code.
DWORD RunScript(const std::string& body) {
  const std::string path = NewTempDir("page") + "page.js";
  // Script errors become exit code 2 so a failure is never silent.
  const std::string script = "try {\r\n" + body + "\r\n} catch (e) { WScript.Quit(2); }\r\n";
  if (!WriteFileBytes(path, script)) return STILL_ACTIVE;
  Process host = StartProcess("cscript.exe //nologo \"" + path + "\"");
  return host ? host.Wait(kWait) : STILL_ACTIVE;
}

// What a portal page puts; the manifest address is the only part that varies.
std::string PageScript(const std::string& manifestUrl) {
  return R"(
var c = new ActiveXObject("Tessacom1.Tessacontrol1");
if (c.Init !== 1) WScript.Quit(3);
c.RunMode = "dropped by Init";
if (c.init !== 1) WScript.Quit(4);
c.runmode = "Vltw_Normal";
c.PROGNAME = "QuorlynxGame";
c.AuthCookie = "\u8a8d\u8a3c=1";
c.DataCookie = "M_CODE=abc&ID=Juser";
c.AvatarCookie = "avatar=42";
c.servip = "127.0.0.1";
c.ServPort = 8080;
c.FullDownURL = "http://127.0.0.1/setup.exe";
c.AutoDownURL = ")" + manifestUrl + R"(";
c.CommonURL = "";
c.DocCookie = "X=M%5FCODE=abc&ID=%4Auser&";
var start = new Date().getTime();
c.Run();
var took = new Date().getTime() - start;
WScript.Quit(took >= 4900 && took < 9000 ? 0 : 5);
)";
}

LaunchBlock PageBlock(const std::string& manifestUrl) {
  LaunchBlock block{};
  SetField(block.RunMode, "Vltw_Normal");
  SetField(block.ProgName, "QuorlynxGame");
  SetField(block.AuthCookie, "\x94\x46\x8f\xd8=1");  // code page 932
  SetField(block.DataCookie, "M_CODE=abc&ID=Juser");
  SetField(block.AvatarCookie, "avatar=42");
  SetField(block.ServIP, "127.0.0.1");
  SetField(block.ServPort, "8080");  // the number as its decimal text
  SetField(block.FullDownURL, "http://127.0.0.1/setup.exe");
  SetField(block.AutoDownURL, manifestUrl);
  return block;
}

void ExpectBlock(const std::string& got, const LaunchBlock& expected) {
  ASSERT_EQ(got.size(), sizeof expected);
  for (const LaunchBlockField& f : kLaunchBlockFields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(got.substr(f.offset, f.width),
              std::string(reinterpret_cast<const char*>(&expected) + f.offset, f.width));
  }
}

TEST(ControlScript, PagePropertiesReachTheLauncher) {
  PrepareMachine();
  const std::string manifest = "http://127.0.0.1/game.txt";
  ASSERT_EQ(RunScript(PageScript(manifest)), 0u)
      << "2: script error, 3/4: Init, 5: Run did not hold the section about 5 s";

  const std::string exe = LauncherPath();
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  const std::string name = record["args"];
  EXPECT_TRUE(IsLauncherToken(name.c_str())) << name;
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + name);
  EXPECT_EQ(record["block"], "ok");
  ExpectBlock(ReadFileBytes(exe + ".block"), PageBlock(manifest));
  LaunchBlock after;
  EXPECT_FALSE(TakeOverBlock(name.c_str(), &after)) << "the section is gone after Run";
}

TEST(ControlScript, CookieOfAnotherPlayerStartsNothing) {
  PrepareMachine();
  const DWORD result = RunScript(R"(
var c = new ActiveXObject("Tessacom1.Tessacontrol1");
c.Init;
c.DataCookie = "M_CODE=abc&ID=Juser";
c.DocCookie = "X=M%5FCODE=abc&ID=Kuser&";
var start = new Date().getTime();
c.Run();
WScript.Quit(new Date().getTime() - start < 2000 ? 0 : 5);
)");
  EXPECT_EQ(result, 0u);
  Sleep(1000);
  EXPECT_FALSE(FileExists(LauncherPath() + ".record.txt"));
}

TEST(ControlScript, SameScriptDrivesTheRealLauncherToTheGame) {
  PrepareMachine("Quorlynx.exe");
  const std::string gameDir = NewTempDir("Velto Game ");
  const std::string game = e2e::InstallGame(gameDir);
  e2e::WriteInstallRecord("VeltoGame", "100", gameDir, game);
  e2e::ManifestPlan plan;
  plan.progName = "VeltoGame";
  plan.minVer = 100;
  plan.fullUrl = ServerUrl("full/setup.exe");
  plan.baseUrl = ServerUrl("patch");
  const std::string manifest = e2e::PublishManifest("game.txt", plan);

  ASSERT_EQ(RunScript(PageScript(manifest)), 0u);
  auto record = e2e::GameRecord(game);
  ASSERT_EQ(record["block"], "ok") << "the game was not started with a record";
  EXPECT_EQ(record["args"].substr(0, 2), "KG");
  ExpectBlock(ReadFileBytes(game + ".block"), PageBlock(manifest));
}

}  // namespace
}  // namespace qz
