// A "quorlynx:" link opened through the shell's protocol dispatch, the way a
// browser hands it over: the launcher registered as the protocol's handler
// starts the game with exactly the ticket's values, once; every other link
// shows the one message and starts nothing.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstring>
#include <ctime>
#include <functional>

#include "format/ticket.h"
#include "launcher/ticket_check.h"
#include "tests/e2e/e2e_support.h"
#include "tests/winsupport/test_signer.h"
#include "ui/texts.h"

namespace qz::e2e {
namespace {

const char kProg[] = "VeltoGame";
const char kProtocolKey[] = "SOFTWARE\\Classes\\quorlynx";

std::string WindowsFolder() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  std::string path = windows;
  return path.back() == '\\' ? path : path + "\\";
}

class TicketLinkTest : public testing::Test {
 public:
  void SetUp() override {
    // The launcher as the client package installs it, registered as the handler.
    launcher_ = WindowsFolder() + "Quorlynx1.exe";
    ASSERT_TRUE(CopyProgram("Quorlynx.exe", launcher_));
    Process registering = StartProcess("\"" + launcher_ + "\" --register-protocol");
    ASSERT_EQ(registering.Wait(kWait), Exit(ExitCode::Done));
    SetProductKeys("PortalKeys", {portal_.PublicKeyLine()});
    // A current game behind the ticket's manifest address.
    const std::string dir = NewTempDir("Velto Game ");
    exe_ = InstallGame(dir);
    WriteInstallRecord(kProg, "100", dir, exe_);
    PublishManifest("game.txt", {kProg, 100, "", "", {}});
  }

  Ticket TicketNow() const {
    Ticket t;
    t.issued = static_cast<std::int64_t>(std::time(nullptr)) - 30;
    t.expires = t.issued + 300;
    static std::uint8_t counter = 0;
    for (std::size_t i = 0; i < t.nonce.size(); ++i)
      t.nonce[i] = static_cast<std::uint8_t>(++counter * 7 + i);
    const auto set = [&t](const char* name, const std::string& value) {
      t.fields[*TicketFieldIndex(name)] = value;
    };
    set("RunMode", "Normal");
    set("ProgName", kProg);
    // Blanks, quotes, "%", "&", a Shift-JIS pair and the bytes around them survive.
    set("AuthCookie", "VLTW_AUTH=3f9a; path=/ \"%&\x82\xA0\x01\x7F\xFF");
    set("AvatarCookie", "avatar=7c1e05b2");
    set("ServIP", "192.0.2.10");
    set("ServPort", "7000");
    set("AutoDownURL", ServerUrl("game.txt"));
    return t;
  }
  // The link of a ticket text, signed by `signer`.
  static std::string LinkOf(const std::string& text, const TestSigner& signer) {
    const std::string raw = signer.Sign(text);
    P256Signature signature{};
    std::memcpy(signature.data(), raw.data(), signature.size());
    return TicketLinkOf(text, signature);
  }
  std::string Signed(const Ticket& ticket) const { return LinkOf(TicketTextOf(ticket), portal_); }

  // Opens the link as a browser does: through the shell, which starts the
  // registered handler.
  static Process OpenThroughShell(const std::string& link) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = link.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || !info.hProcess) return {};
    return Process(info.hProcess, GetProcessId(info.hProcess));
  }

  // The one message, OK pressed; nothing fetched, nothing started; the
  // support log names the reason.
  void ExpectRefused(const std::string& link, const std::string& reason, const char* picture = nullptr) {
    Process run = OpenThroughShell(link);
    ASSERT_TRUE(run) << "the shell started no handler";
    if (picture) {
      if (HWND box = WaitForMessageBox(run.pid(), kWait)) Screenshot(box, picture);
    }
    EXPECT_TRUE(Answer(run.pid(), texts::kTicketRefused, IDOK)) << "no refusal message";
    EXPECT_EQ(run.Wait(kWait), Exit(ExitCode::Stopped));
    EXPECT_TRUE(ServerRequests().empty()) << "the manifest was asked for";
    EXPECT_TRUE(GameRecord(exe_, 500).empty()) << "the game started";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string log = ReadFileBytes(std::string(temp) + "~qztmp\\Quorlynx.log");
    const std::size_t last = log.rfind("[ticket] ");
    ASSERT_NE(last, std::string::npos) << "no ticket line in the log";
    const std::string line = log.substr(last, log.find('\n', last) - last);
    EXPECT_NE(line.find("refused: " + reason), std::string::npos) << line;
    EXPECT_EQ(log.find("VLTW_AUTH"), std::string::npos) << "the log holds no cookie";
  }

  TestSigner portal_;
  std::string launcher_;
  std::string exe_;
};

TEST_F(TicketLinkTest, ValidTicketStartsTheGameWithExactlyItsValuesOnce) {
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, std::string(kProtocolKey) + "\\shell\\open\\command", ""),
            "\"" + launcher_ + "\" \"%1\"");
  const Ticket ticket = TicketNow();
  const std::string link = Signed(ticket);
  Process run = OpenThroughShell(link);
  ASSERT_TRUE(run) << "the shell started no handler";
  const auto record = GameRecord(exe_);
  ASSERT_FALSE(record.empty()) << "the game did not start";
  EXPECT_EQ(record.at("block"), "ok");
  EXPECT_EQ(run.Wait(kWait), Exit(ExitCode::Done));
  const LaunchBlock expected = RecordOfTicket(ticket);
  EXPECT_EQ(ReadFileBytes(exe_ + ".block"),
            std::string(reinterpret_cast<const char*>(&expected), sizeof expected));

  // The same link again: used up.
  DeleteFileA((exe_ + ".record.txt").c_str());
  WriteFileBytes(ServerRoot() + ".requests", "");
  ExpectRefused(link, "the ticket was used before", "ticket_refused");

  // Removed again by whatever removes the launcher.
  Process removing = StartProcess("\"" + launcher_ + "\" --unregister-protocol");
  EXPECT_EQ(removing.Wait(kWait), Exit(ExitCode::Done));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProtocolKey));
}

TEST_F(TicketLinkTest, EveryOtherLinkShowsTheMessageAndStartsNothing) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const auto with = [this](const std::function<void(Ticket&)>& change) {
    Ticket t = TicketNow();
    change(t);
    return Signed(t);
  };
  const auto text = [this] { return TicketTextOf(TicketNow()); };
  const char* const kNotSigned = "the signature is not one of a PortalKeys key";
  enum Keys { Portal, NoKeys, AString };  // what PortalKeys holds
  const struct {
    const char* id;
    Keys keys;
    const char* reason;  // as the log says it
    std::function<std::string()> link;
  } cases[] = {
      {"expired", Portal, "the ticket has expired",
       [&] {
         return with([&](Ticket& t) {
           t.issued = now - 900;
           t.expires = now - 300;
         });
       }},
      {"not yet valid", Portal, "the ticket is not valid yet",
       [&] {
         return with([&](Ticket& t) {
           t.issued = now + 300;
           t.expires = now + 600;
         });
       }},
      {"validity over ten minutes", Portal, "Expires is not after Issued, or more than 10 minutes",
       [&] { return with([](Ticket& t) { t.expires = t.issued + 601; }); }},
      {"a stranger's key", Portal, kNotSigned, [&] { return LinkOf(text(), TestSigner()); }},
      {"a changed byte", Portal, kNotSigned,
       [&] {
         const std::string good = text();
         const std::string raw = portal_.Sign(good);
         std::string changed = good;
         changed[changed.find("Normal")] = 'M';
         P256Signature signature{};
         std::memcpy(signature.data(), raw.data(), signature.size());
         return TicketLinkOf(changed, signature);
       }},
      {"an unknown key", Portal, "an unknown key: Comment",
       [&] { return LinkOf(text() + "Comment=hello\n", portal_); }},
      {"an oversize field", Portal, "a value wider than its field of the launch record: RunMode",
       [&] { return with([](Ticket& t) { t.fields[0] = std::string(17, 'M'); }); }},
      {"no PortalKeys", NoKeys, "no PortalKeys", [&] { return Signed(TicketNow()); }},
      {"PortalKeys of another type", AString, "PortalKeys is set but unusable",
       [&] { return Signed(TicketNow()); }},
      {"extra arguments", Portal, "the command line is not exactly one quoted quorlynx: address",
       [&] { return Signed(TicketNow()) + "\" \"--register-protocol"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    SetProductKeys("PortalKeys", c.keys == Portal ? std::vector<std::string>{portal_.PublicKeyLine()}
                                                  : std::vector<std::string>{});
    if (c.keys == AString) {
      HKEY key;
      RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key);
      RegSetValueExA(key, "PortalKeys", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
      RegCloseKey(key);
    }
    ExpectRefused(c.link(), c.reason);
  }
}

}  // namespace
}  // namespace qz::e2e
