// The launcher's flows as a player meets them: manifest, questions, wizard
// pages, setup program, and the two modes a page can ask for.
#include <gtest/gtest.h>

#include "base/portal.h"
#include "tests/e2e/e2e_support.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const std::string kRecordKey = std::string("SOFTWARE\\Veltoworks\\") + kProg;
const char kStartPageKey[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";

void SetStartPage(const std::string& page) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kStartPageKey, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, "Start Page", 0, REG_SZ, reinterpret_cast<const BYTE*>(page.c_str()),
                 static_cast<DWORD>(page.size() + 1));
  RegCloseKey(key);
}

class FlowTest : public testing::Test {
 protected:
  void SetUp() override {
    gameDir_ = NewTempDir("Velto Game ");  // a blank in the folder
  }
  // A game installed at `version` with its executable present (or not).
  std::string Installed(const char* version, bool withExe = true) {
    const std::string exe = withExe ? InstallGame(gameDir_) : gameDir_ + "game.exe";
    WriteInstallRecord(kProg, version, gameDir_, exe);
    return exe;
  }
  std::string Manifest(int minVer, std::vector<std::pair<int, std::string>> files = {},
                       const std::string& fullUrl = "") {
    ManifestPlan plan;
    plan.progName = kProg;
    plan.minVer = minVer;
    plan.fullUrl = fullUrl.empty() ? ServerUrl("full/setup.exe") : fullUrl;
    plan.baseUrl = ServerUrl("patch");
    plan.files = std::move(files);
    return PublishManifest("game.txt", plan);
  }
  std::string gameDir_;
};

TEST_F(FlowTest, UnreachableManifestShowsUpdateFailureAndStartsNothing) {
  const std::string exe = Installed("100");
  LauncherRun run = StartLauncher(BlockWith("http://127.0.0.1:1/game.txt"));
  HWND wait = WaitForDialogWithControl(run.process.pid(), IDC_WAIT_TEXT);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(ItemText(wait, IDC_WAIT_TEXT), texts::kWaitGame);
  EXPECT_EQ(TextOf(wait), texts::kWizardCaption);
  HWND box = WaitForMessageBox(run.process.pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), texts::kUpdateFailed);
  EXPECT_NE(TextOf(box), texts::kNoticeCaption);
  Press(box, IDOK);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_FALSE(FileExists(exe + ".record.txt")) << "the game must not start";
}

// A manifest address the launcher must refuse fails like an unreachable one,
// with the same message, although the manifest is there to be had: on the
// same server, or through a proxy for another host.
class RefusedManifest : public FlowTest {
 protected:
  void ShowsUpdateFailureAndStartsNothing(const std::string& url) {
    const std::string exe = Installed("100");
    Manifest(100);
    LauncherRun run = StartLauncher(BlockWith(url));
    HWND box = WaitForMessageBox(run.process.pid(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), texts::kUpdateFailed);
    Press(box, IDOK);
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
    EXPECT_FALSE(FileExists(exe + ".record.txt")) << "the game must not start";
  }
};

TEST_F(RefusedManifest, PlainHttpToAnotherHost) {
  ProxyThroughTestServer proxy;
  ShowsUpdateFailureAndStartsNothing("http://dl.velto.example/game.txt");
}

TEST_F(RefusedManifest, HttpsRedirectedToHttp) { ShowsUpdateFailureAndStartsNothing(ServerUrl("~to-http/game.txt")); }

TEST_F(RefusedManifest, CertificateFromAnUnknownAuthority) {
  ShowsUpdateFailureAndStartsNothing(ServerUrl("game.txt", ServerListener::UnknownCa));
}

TEST_F(RefusedManifest, CertificateForAnotherHostName) {
  ShowsUpdateFailureAndStartsNothing(ServerUrl("game.txt", ServerListener::OtherName));
}

TEST_F(FlowTest, CurrentGameStartsAtOnceWithTheRecord) {
  const std::string exe = Installed("100");
  Manifest(100);
  // A slow manifest server keeps the waiting dialog up long enough to look at.
  const LaunchBlock block = BlockWith(ServerUrl("~delay=2500/game.txt"));
  LauncherRun run = StartLauncher(block);
  HWND wait = WaitForDialogWithControl(run.process.pid(), IDC_WAIT_TEXT);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(ItemText(wait, IDC_WAIT_HINT), L"しばらくお待ちください。");
  Screenshot(wait, "wait_dialog");
  auto record = GameRecord(exe);
  ASSERT_EQ(record["block"], "ok");
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + record["args"]);
  EXPECT_EQ(record["cwd"] + "\\", gameDir_);
  EXPECT_EQ(ReadFileBytes(exe + ".block"),
            std::string(reinterpret_cast<const char*>(&block), sizeof block));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_EQ(WaitForDialogWithControl(run.process.pid(), IDC_NEXT, 0), nullptr);
}

TEST_F(FlowTest, MissingExecutableAsksAndNoStops) {
  Installed("100", false);
  LauncherRun run = StartLauncher(BlockWith(Manifest(100)));
  HWND box = WaitForMessageBox(run.process.pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), texts::kReinstallQuestion);
  EXPECT_EQ(TextOf(box), texts::kNoticeCaption);
  Screenshot(box, "reinstall_question");
  Press(box, IDNO);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
}

TEST_F(FlowTest, MissingExecutableYesOpensTheWizardOnItsConfirmationPage) {
  Installed("100", false);
  SetStartPage("http://elsewhere.example/");
  LauncherRun run = StartLauncher(BlockWith(Manifest(100)));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
  HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(TextOf(wizard), texts::kWizardCaption);
  for (int id : {IDC_SIDE_PICTURE, IDC_CONFIRM_TEXT1, IDC_CONFIRM_TEXT2, IDC_SAVE_HINT, IDC_START_PAGE,
                 IDC_SAVE_SETUP, IDC_AUTO_RUN, IDC_NEXT}) {
    EXPECT_TRUE(IsShown(wizard, id)) << id;
  }
  for (int id : {IDC_PHASE, IDC_COUNT, IDC_ITEM, IDC_PROGRESS, IDC_POSITION, IDC_SPEED}) {
    EXPECT_FALSE(IsShown(wizard, id)) << id;
  }
  EXPECT_EQ(ItemText(wizard, IDC_CONFIRM_TEXT1), L"インストールウィザードが新しいプログラムのインストール中です。");
  EXPECT_EQ(ItemText(wizard, IDC_CONFIRM_TEXT2), L"<次へ(Ｎ)>をクリックすると自動的にインストールされます。");
  EXPECT_EQ(ItemText(wizard, IDC_START_PAGE), L"Veltoをインターネットエクスプローラーの基本ページに設定");
  EXPECT_EQ(ItemText(wizard, IDC_SAVE_SETUP), L"セットアップファイルをハードディスクに保存");
  EXPECT_EQ(ItemText(wizard, IDC_AUTO_RUN), L"インストール後、自動実行");
  EXPECT_EQ(ItemText(wizard, IDC_NEXT), L"次へ(&N) >");
  EXPECT_EQ(ItemText(wizard, IDCANCEL), L"中止(&C)");
  EXPECT_TRUE(IsTickedItem(wizard, IDC_START_PAGE)) << "start page is elsewhere: offered";
  EXPECT_TRUE(IsTickedItem(wizard, IDC_AUTO_RUN));
  Screenshot(wizard, "wizard_confirmation");

  // Cancel before anything started: no question.
  Press(wizard, IDCANCEL);
  EXPECT_TRUE(WaitUntilGone(wizard));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, kStartPageKey, "Start Page"), "http://elsewhere.example/");
}

// The screen's DPI as the player sets it; programs started afterwards read it.
void SetLogPixels(DWORD dpi) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  RegCloseKey(key);
}

// The confirmation page on a normal and on a high-DPI screen: the dialog grows
// with the DPI and every text fits its control, wrapped as the control wraps
// it, in the font the dialog asks for.
TEST_F(FlowTest, ConfirmationPageScalesWithTheScreen) {
  Installed("100", false);
  const std::string manifest = Manifest(100);
  LONG width96 = 0;
  for (int dpi : {96, 192}) {
    SCOPED_TRACE(dpi);
    SetLogPixels(dpi);
    LauncherRun run = StartLauncher(BlockWith(manifest));
    ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
    HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
    ASSERT_NE(wizard, nullptr);
    Screenshot(wizard, "wizard_confirmation_" + std::to_string(dpi) + "dpi");
    RECT frame{};
    GetClientRect(wizard, &frame);
    if (dpi == 96) width96 = frame.right;
    EXPECT_NEAR(frame.right, width96 * dpi / 96, width96 * dpi / 96 / 20) << "grows with the DPI";

    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                             L"MS UI Gothic");
    HGDIOBJ old = SelectObject(dc, font);
    const int box = MulDiv(16, dpi, 96);  // a check box's square and its gap
    for (int id : {IDC_CONFIRM_TEXT1, IDC_CONFIRM_TEXT2, IDC_SAVE_HINT, IDC_START_PAGE, IDC_SAVE_SETUP,
                   IDC_AUTO_RUN}) {
      const std::wstring text = ItemText(wizard, id);
      RECT item{};
      GetClientRect(GetDlgItem(wizard, id), &item);
      const bool check = id == IDC_START_PAGE || id == IDC_SAVE_SETUP || id == IDC_AUTO_RUN;
      RECT need{0, 0, item.right - (check ? box : 0), 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_WORDBREAK);
      EXPECT_LE(need.right, item.right - (check ? box : 0)) << id;
      EXPECT_LE(need.bottom, item.bottom) << id << " (lines the text needs)";
    }
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);

    Press(wizard, IDCANCEL);
    EXPECT_TRUE(WaitUntilGone(wizard));
    EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
  }
}

TEST_F(FlowTest, BelowMinimumVersionGoesToTheWizardWithoutQuestion) {
  Installed("90");
  SetStartPage("http://elsewhere.example/");
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {{101, "p101.zip"}})));
  HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(WindowsOf(run.process.pid()).size() == 1u) << "no question before the wizard";
  EXPECT_TRUE(IsShown(wizard, IDC_CONFIRM_TEXT1));
  Press(wizard, IDCANCEL);
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
}

TEST_F(FlowTest, StartPageAlreadyPortalStartsTheInstallationAtOnce) {
  Installed("100", false);
  SetStartPage(std::string(kPortalAddress) + "index.html");
  // A slow server keeps the progress page up long enough to look at it.
  LauncherRun run = StartLauncher(BlockWith(Manifest(100, {}, ServerUrl("~delay=3000/full/setup.exe"))));
  Publish("full/setup.exe", ReadFileBytes(BinDir() + "standin_setup.exe"));
  ASSERT_TRUE(Answer(run.process.pid(), texts::kReinstallQuestion, IDYES));
  HWND wizard = WaitForDialogWithControl(run.process.pid(), IDC_NEXT);
  ASSERT_NE(wizard, nullptr);
  const DWORD start = GetTickCount();
  while (!IsShown(wizard, IDC_PHASE) && GetTickCount() - start < kWait) Sleep(20);
  EXPECT_TRUE(IsShown(wizard, IDC_PHASE));
  EXPECT_FALSE(IsShown(wizard, IDC_NEXT));
  EXPECT_FALSE(IsTickedItem(wizard, IDC_START_PAGE));
  EXPECT_EQ(ItemText(wizard, IDC_PHASE), texts::kPhaseDownload);
  Screenshot(wizard, "wizard_progress_full");
  // Cancel while the worker runs asks first; Yes ends the wizard.
  Press(wizard, IDCANCEL);
  ASSERT_TRUE(Answer(run.process.pid(), texts::kCancelQuestion, IDYES));
  EXPECT_EQ(run.process.Wait(kWait), Exit(ExitCode::Stopped));
}

}  // namespace
}  // namespace qz::e2e
