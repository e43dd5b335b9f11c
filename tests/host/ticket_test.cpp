// The launch ticket as both sides read it: its grammar and limits, the link
// around it, its time rules, and the record and command line the launcher
// makes of it.
#include <gtest/gtest.h>

#include <string>

#include "base/field_text.h"
#include "format/ticket.h"
#include "launcher/launch_command.h"
#include "launcher/ticket_check.h"
#include "record/launch_block.h"

namespace qz {
namespace {

constexpr std::int64_t kIssued = 1748779200;  // 2025-06-01T12:00:00Z

Ticket GoodTicket() {
  Ticket t;
  t.issued = kIssued;
  t.expires = kIssued + 300;
  for (std::size_t i = 0; i < t.nonce.size(); ++i) t.nonce[i] = static_cast<std::uint8_t>(0xA0 + i);
  t.fields[*TicketFieldIndex("RunMode")] = "Normal";
  t.fields[*TicketFieldIndex("AuthCookie")] = "VLTW_AUTH=3f9a; path=/";
  return t;
}

// The good ticket's text with one piece replaced.
std::string Edited(const std::string& from, const std::string& to) {
  std::string text = TicketTextOf(GoodTicket());
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(Ticket, GrammarAndLimits) {
  const std::string good = TicketTextOf(GoodTicket());
  std::string sixteenEscaped;
  for (int i = 0; i < 16; ++i) sixteenEscaped += "%41";
  const struct {
    const char* id;
    std::string text;
    TicketProblem problem;
    const char* key;
  } cases[] = {
      {"good", good, TicketProblem::None, ""},
      {"keys in another order", Edited("Audience=Quorlynx\n", "") + "Audience=Quorlynx\n",
       TicketProblem::None, ""},
      {"escaped visible byte", Edited("RunMode=Normal", "RunMode=Norm%61l"), TicketProblem::None, ""},
      {"empty", "", TicketProblem::Header, ""},
      {"version 2", Edited("QuorlynxTicket/1", "QuorlynxTicket/2"), TicketProblem::Header, ""},
      {"no final line feed", good.substr(0, good.size() - 1), TicketProblem::Line, ""},
      {"CR line end", Edited("RunMode=Normal\n", "RunMode=Normal\r\n"), TicketProblem::BadValue, "RunMode"},
      {"empty line", Edited("RunMode", "\nRunMode"), TicketProblem::Line, ""},
      {"no equals", Edited("RunMode=Normal", "RunMode"), TicketProblem::Line, ""},
      {"key with a digit", Edited("RunMode", "RunMode2"), TicketProblem::Line, ""},
      {"unknown key", good + "Comment=hello\n", TicketProblem::UnknownKey, "Comment"},
      {"field twice", good + "RunMode=Other\n", TicketProblem::RepeatedKey, "RunMode"},
      {"no nonce", Edited("Nonce=", "Spare="), TicketProblem::MissingKey, "Nonce"},
      {"blank in a value", Edited("Normal", "Nor mal"), TicketProblem::BadValue, "RunMode"},
      {"cut escape", Edited("%3D3f9a", "%3"), TicketProblem::BadValue, "AuthCookie"},
      {"zero byte", Edited("%3D", "%00"), TicketProblem::BadValue, "AuthCookie"},
      {"not a time", Edited("T12:00:00Z", "T24:00:00Z"), TicketProblem::BadValue, "Issued"},
      {"short nonce", Edited("Nonce=a0a1", "Nonce=a0"), TicketProblem::BadValue, "Nonce"},
      {"run mode fills its field", Edited("Normal", std::string(16, 'M')), TicketProblem::None, ""},
      {"run mode too wide", Edited("Normal", std::string(17, 'M')), TicketProblem::FieldTooWide, "RunMode"},
      {"escapes count as one byte", Edited("Normal", sixteenEscaped), TicketProblem::None, ""},
      {"ten minutes", Edited("12:05:00Z", "12:10:00Z"), TicketProblem::None, ""},
      {"over ten minutes", Edited("12:05:00Z", "12:10:01Z"), TicketProblem::Validity, ""},
      {"expires at issue", Edited("12:05:00Z", "12:00:00Z"), TicketProblem::Validity, ""},
      {"too large", good + "Spare=" + std::string(kMaxTicketBytes, 'x') + "\n", TicketProblem::TooLarge, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const TicketReading reading = ReadTicket(c.text);
    EXPECT_EQ(reading.problem, c.problem) << TicketProblemText(reading.problem);
    EXPECT_EQ(reading.key, c.key);
  }
}

TEST(Ticket, EveryByteButZeroSurvivesAtFullWidth) {
  Ticket t = GoodTicket();
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  t.fields[*TicketFieldIndex("AuthCookie")] = bytes.substr(0, 255) + "\x7F";  // 256: the whole field
  t.fields[*TicketFieldIndex("ServPort")] = "65535";
  t.audience = "Other product";
  const TicketReading reading = ReadTicket(TicketTextOf(t));
  ASSERT_EQ(reading.problem, TicketProblem::None) << reading.key;
  EXPECT_EQ(reading.ticket.fields, t.fields);
  EXPECT_EQ(reading.ticket.audience, t.audience);
  EXPECT_EQ(reading.ticket.nonce, t.nonce);
  EXPECT_EQ(reading.ticket.issued, t.issued);
  EXPECT_EQ(reading.ticket.expires, t.expires);
}

TEST(Ticket, LinkParts) {
  P256Signature signature{};
  signature.fill(0xFB);  // base64url "-" and "_" territory
  const std::string ticket = TicketTextOf(GoodTicket());
  const std::string link = TicketLinkOf(ticket, signature);
  ASSERT_EQ(link.rfind("quorlynx:launch?t=", 0), 0u);
  const std::string t = link.substr(18, link.find("&s=") - 18);
  const std::string s = link.substr(link.find("&s=") + 3);
  EXPECT_EQ((t + s).find_first_of("+/=%\" &"), std::string::npos) << "nothing a browser or the shell escapes";
  const struct {
    const char* id;
    std::string link;
    TicketProblem problem;
  } cases[] = {
      {"good", link, TicketProblem::None},
      {"scheme in capitals", "QUORLYNX:launch?t=" + t + "&s=" + s, TicketProblem::None},
      {"path in capitals", "quorlynx:Launch?t=" + t + "&s=" + s, TicketProblem::NotALink},
      {"authority form", "quorlynx://launch?t=" + t + "&s=" + s, TicketProblem::NotALink},
      {"no signature part", "quorlynx:launch?t=" + t, TicketProblem::NotALink},
      {"trailing slash", link + "/", TicketProblem::LinkEncoding},
      {"padding", link + "==", TicketProblem::LinkEncoding},
      {"standard alphabet", "quorlynx:launch?t=" + t + "&s=" + std::string(s).replace(0, 1, "+"),
       TicketProblem::LinkEncoding},
      {"signature cut", link.substr(0, link.size() - 4), TicketProblem::LinkEncoding},
      {"ticket too large", "quorlynx:launch?t=" + std::string(10924, 'A') + "&s=" + s,
       TicketProblem::TooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const TicketLink parsed = ParseTicketLink(c.link);
    EXPECT_EQ(parsed.problem, c.problem) << TicketProblemText(parsed.problem);
    if (c.problem == TicketProblem::None) {
      EXPECT_EQ(parsed.ticket, ticket);
      EXPECT_EQ(parsed.signature, signature);
    }
  }
}

TEST(Ticket, TimeWithTwoMinutesOfSkew) {
  const Ticket t = GoodTicket();  // valid from kIssued for 300 s
  Ticket stranger = t;
  stranger.audience = "Quorlynx2";
  const struct {
    const char* id;
    const Ticket& ticket;
    std::int64_t now;
    TicketProblem problem;
  } cases[] = {
      {"issued two minutes ahead", t, kIssued - 120, TicketProblem::None},
      {"issued further ahead", t, kIssued - 121, TicketProblem::NotYetValid},
      {"inside", t, kIssued + 150, TicketProblem::None},
      {"expired within the skew", t, kIssued + 300 + 119, TicketProblem::None},
      {"expired", t, kIssued + 300 + 120, TicketProblem::Expired},
      {"another audience", stranger, kIssued, TicketProblem::Audience},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckTicketClaims(c.ticket, c.now), c.problem) << c.id;
  }
}

TEST(Ticket, UtcTimes) {
  const struct {
    const char* text;
    std::int64_t seconds;  // -1: refused
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2000-01-01T00:00:00Z", 946684800},
      {"2024-02-29T23:59:59Z", 1709251199},
      {"2025-06-01T12:00:00Z", kIssued},
      {"9999-12-31T23:59:59Z", 253402300799},
      {"2023-02-29T00:00:00Z", -1},
      {"1969-12-31T23:59:59Z", -1},
      {"2025-06-01T12:00:60Z", -1},
      {"2025-06-01T12:00:00+09:00", -1},
      {"2025-06-01 12:00:00Z", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<std::int64_t> seconds = ParseUtcTime(c.text);
    EXPECT_EQ(seconds.value_or(-1), c.seconds);
    if (seconds) EXPECT_EQ(UtcTimeText(*seconds), c.text);
  }
}

TEST(Ticket, Base64UrlAndPercentAreStrict) {
  EXPECT_EQ(ToBase64Url("\xfb\xff\xbf"), "-_-_");
  EXPECT_EQ(ToBase64Url("f"), "Zg");
  EXPECT_EQ(DecodeBase64Url("Zm8").value_or("?"), "fo");
  for (const char* bad : {"Zh", "Zg==", "Z", "Zm9v+", "Zm9v/", "Zm 9v"}) {
    EXPECT_FALSE(DecodeBase64Url(bad)) << bad;
  }
  EXPECT_EQ(PercentEncode("a b=~%\x80"), "a%20b%3D~%25%80");
  EXPECT_EQ(PercentDecode("a%20b=~%25%80%7e").value_or("?"), "a b=~%\x80~");
}

TEST(Ticket, FieldsAreTheLaunchRecordsAndFillIt) {
  ASSERT_EQ(kTicketFieldCount, sizeof kLaunchBlockFields / sizeof kLaunchBlockFields[0]);
  for (std::size_t i = 0; i < kTicketFieldCount; ++i) {
    EXPECT_STREQ(kTicketFields[i].name, kLaunchBlockFields[i].name);
    EXPECT_EQ(kTicketFields[i].width, kLaunchBlockFields[i].width) << kTicketFields[i].name;
  }
  Ticket t = GoodTicket();
  t.fields[*TicketFieldIndex("ServPort")] = "123456";  // fills its field: no terminator
  t.fields[*TicketFieldIndex("Spare")] = "DxMin=9";
  const LaunchBlock block = RecordOfTicket(t);
  EXPECT_EQ(FieldText(block.RunMode), "Normal");
  EXPECT_EQ(FieldText(block.AuthCookie), "VLTW_AUTH=3f9a; path=/");
  EXPECT_EQ(std::string(block.ServPort, sizeof block.ServPort), "123456");
  EXPECT_EQ(FieldText(block.ServIP), "") << "a field not given stays empty";
  EXPECT_EQ(block.ServIP[29], '\0');
  EXPECT_EQ(FieldText(block.Spare), "DxMin=9");
}

TEST(Ticket, CommandLineForms) {
  const std::string link = "quorlynx:launch?t=QQ&s=QQ";
  const struct {
    const char* id;
    std::string line;
    LaunchForm form;
  } cases[] = {
      {"section", "K1234_56789", LaunchForm::Section},
      {"quoted link", "\"" + link + "\"", LaunchForm::Link},
      {"scheme in capitals", "\"QUORLYNX:x\"", LaunchForm::Link},
      {"unquoted link", link, LaunchForm::BadLink},
      {"argument after", "\"" + link + "\" --register-protocol", LaunchForm::BadLink},
      {"no closing quote", "\"" + link, LaunchForm::BadLink},
      {"blank inside", "\"quorlynx:launch?t=Q Q\"", LaunchForm::BadLink},
      {"argument before", "x \"" + link + "\"", LaunchForm::Unreadable},
      {"register", "--register-protocol", LaunchForm::RegisterProtocol},
      {"unregister", "--unregister-protocol", LaunchForm::UnregisterProtocol},
      {"empty", "", LaunchForm::Unreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const LaunchCommand command = ReadLaunchCommand(c.line.c_str());
    EXPECT_EQ(command.form, c.form);
    if (c.form == LaunchForm::Link) EXPECT_EQ("\"" + command.link + "\"", c.line);
  }
}

TEST(Ticket, PortalKeysMustAllBeKeys) {
  const std::string key = "BA" + std::string(85, 'A') + "=";  // 0x04 and zeros: the form of a point
  ASSERT_TRUE(ParsePublicKeyText(key));
  EXPECT_EQ(PortalKeysOf({key, " " + key + "\r\n"}).value_or(std::vector<P256PublicKey>{}).size(), 2u);
  EXPECT_FALSE(PortalKeysOf({}));
  EXPECT_FALSE(PortalKeysOf({key, "not a key"}));
  EXPECT_FALSE(PortalKeysOf({key, "   "}));
}

}  // namespace
}  // namespace qz
