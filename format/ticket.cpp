#include "format/ticket.h"

#include <cstdio>
#include <cstring>

#include "format/ascii_case.h"

namespace qz {

namespace {

// Claims every ticket carries, before the launch fields.
enum Claim { kAudience, kIssued, kExpires, kNonce, kClaimCount };
constexpr const char* kClaimNames[kClaimCount] = {"Audience", "Issued", "Expires", "Nonce"};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Exactly `count` decimal digits at `at`.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return value;
}

std::optional<TicketNonce> ParseNonce(std::string_view text) {
  const std::optional<std::string> bytes = DecodeHex(text);
  TicketNonce nonce{};
  if (!bytes || bytes->size() != nonce.size()) return std::nullopt;
  std::memcpy(nonce.data(), bytes->data(), nonce.size());
  return nonce;
}

}  // namespace

bool StartsWithTicketScheme(std::string_view text) { return StartsWithAsciiCase(text, kTicketScheme); }

std::optional<std::size_t> TicketFieldIndex(std::string_view name) {
  for (std::size_t i = 0; i < kTicketFieldCount; ++i) {
    if (name == kTicketFields[i].name) return i;
  }
  return std::nullopt;
}

const char* TicketProblemText(TicketProblem problem) {
  switch (problem) {
    case TicketProblem::None: return "accepted";
    case TicketProblem::NotALink: return "not a quorlynx:launch?t=...&s=... link";
    case TicketProblem::LinkEncoding: return "the ticket or its signature is not base64url of the right size";
    case TicketProblem::TooLarge: return "the ticket is larger than 8192 bytes";
    case TicketProblem::Header: return "no QuorlynxTicket/1 header";
    case TicketProblem::Line: return "a line that is not Key=value ending in a line feed";
    case TicketProblem::UnknownKey: return "an unknown key";
    case TicketProblem::RepeatedKey: return "a key given twice";
    case TicketProblem::MissingKey: return "a required key is missing";
    case TicketProblem::BadValue: return "a value that is not well formed";
    case TicketProblem::FieldTooWide: return "a value wider than its field of the launch record";
    case TicketProblem::Validity: return "Expires is not after Issued, or more than 10 minutes after it";
    case TicketProblem::Audience: return "the ticket is meant for another program";
    case TicketProblem::NotYetValid: return "the ticket is not valid yet (Issued lies ahead)";
    case TicketProblem::Expired: return "the ticket has expired";
  }
  return "refused";
}

TicketLink ParseTicketLink(std::string_view link) {
  TicketLink out;
  auto refuse = [&out](TicketProblem problem) {
    out.problem = problem;
    out.ticket.clear();
    return out;
  };
  const std::string_view scheme = kTicketScheme;
  const std::string_view path = kTicketLinkPath;
  const std::string_view separator = kTicketSignaturePart;
  if (!StartsWithTicketScheme(link) || link.substr(scheme.size(), path.size()) != path) {
    return refuse(TicketProblem::NotALink);
  }
  const std::string_view parts = link.substr(scheme.size() + path.size());
  const std::size_t split = parts.find(separator);
  if (split == std::string_view::npos) return refuse(TicketProblem::NotALink);
  const std::string_view ticketPart = parts.substr(0, split);
  const std::string_view signaturePart = parts.substr(split + separator.size());
  // Checked on the encoded length, before anything is decoded.
  if (ticketPart.size() > (kMaxTicketBytes * 4 + 2) / 3) return refuse(TicketProblem::TooLarge);
  const std::optional<std::string> ticket = DecodeBase64Url(ticketPart);
  const std::optional<std::string> signature = DecodeBase64Url(signaturePart);
  if (!ticket || !signature || ticket->empty() || signature->size() != out.signature.size()) {
    return refuse(TicketProblem::LinkEncoding);
  }
  std::memcpy(out.signature.data(), signature->data(), out.signature.size());
  out.ticket = *ticket;
  return out;
}

std::string TicketLinkOf(std::string_view ticket, const P256Signature& signature) {
  return std::string(kTicketScheme) + kTicketLinkPath + ToBase64Url(ticket) + kTicketSignaturePart +
         ToBase64Url(std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()));
}

TicketReading ReadTicket(std::string_view text) {
  TicketReading reading;
  auto refuse = [&reading](TicketProblem problem, std::string_view key = {}) {
    reading.problem = problem;
    reading.key = std::string(key);
    reading.ticket = Ticket{};
    return reading;
  };
  if (text.size() > kMaxTicketBytes) return refuse(TicketProblem::TooLarge);
  const std::string header = std::string(kTicketHeader) + "\n";
  if (text.substr(0, header.size()) != header) return refuse(TicketProblem::Header);
  text.remove_prefix(header.size());

  Ticket& t = reading.ticket;
  bool claimSeen[kClaimCount] = {};
  bool fieldSeen[kTicketFieldCount] = {};
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return refuse(TicketProblem::Line);
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string_view::npos) return refuse(TicketProblem::Line);
    const std::string_view key = line.substr(0, equals);
    for (char c : key) {
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return refuse(TicketProblem::Line);
    }
    const std::optional<std::string> value = PercentDecode(line.substr(equals + 1));
    if (!value) return refuse(TicketProblem::BadValue, key);

    int claim = -1;
    for (int c = 0; c < kClaimCount; ++c) {
      if (key == kClaimNames[c]) claim = c;
    }
    if (claim >= 0) {
      if (claimSeen[claim]) return refuse(TicketProblem::RepeatedKey, key);
      claimSeen[claim] = true;
      switch (claim) {
        case kAudience: t.audience = *value; break;
        case kIssued:
        case kExpires: {
          const std::optional<std::int64_t> time = ParseUtcTime(*value);
          if (!time) return refuse(TicketProblem::BadValue, key);
          (claim == kIssued ? t.issued : t.expires) = *time;
          break;
        }
        default: {
          const std::optional<TicketNonce> nonce = ParseNonce(*value);
          if (!nonce) return refuse(TicketProblem::BadValue, key);
          t.nonce = *nonce;
          break;
        }
      }
      continue;
    }
    const std::optional<std::size_t> field = TicketFieldIndex(key);
    if (!field) return refuse(TicketProblem::UnknownKey, key);
    if (fieldSeen[*field]) return refuse(TicketProblem::RepeatedKey, key);
    fieldSeen[*field] = true;
    // A zero byte would end the text early for whoever reads the record.
    if (value->find('\0') != std::string::npos) return refuse(TicketProblem::BadValue, key);
    if (value->size() > kTicketFields[*field].width) return refuse(TicketProblem::FieldTooWide, key);
    t.fields[*field] = *value;
  }
  for (int c = 0; c < kClaimCount; ++c) {
    if (!claimSeen[c]) return refuse(TicketProblem::MissingKey, kClaimNames[c]);
  }
  if (t.expires <= t.issued || t.expires - t.issued > kMaxTicketValidity)
    return refuse(TicketProblem::Validity);
  return reading;
}

TicketProblem CheckTicketClaims(const Ticket& ticket, std::int64_t now) {
  if (ticket.audience != kTicketAudience) return TicketProblem::Audience;
  if (now + kTicketClockSkew < ticket.issued) return TicketProblem::NotYetValid;
  if (now >= ticket.expires + kTicketClockSkew) return TicketProblem::Expired;
  return TicketProblem::None;
}

std::string TicketTextOf(const Ticket& ticket) {
  std::string text = std::string(kTicketHeader) + "\n";
  auto line = [&text](const char* key, const std::string& value) {
    text += std::string(key) + "=" + value + "\n";
  };
  line(kClaimNames[kAudience], PercentEncode(ticket.audience));
  line(kClaimNames[kIssued], UtcTimeText(ticket.issued));
  line(kClaimNames[kExpires], UtcTimeText(ticket.expires));
  line(kClaimNames[kNonce],
       ToHex(std::string_view(reinterpret_cast<const char*>(ticket.nonce.data()), ticket.nonce.size())));
  for (std::size_t i = 0; i < kTicketFieldCount; ++i) {
    if (!ticket.fields[i].empty()) line(kTicketFields[i].name, PercentEncode(ticket.fields[i]));
  }
  return text;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // 2025-06-01T12:00:00Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month) ||
      *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::string UtcTimeText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  // The civil date of a day count (the inverse of DaysFromCivil).
  days += 719468;
  const std::int64_t era = days / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  char out[64];
  std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return out;
}

}  // namespace qz
