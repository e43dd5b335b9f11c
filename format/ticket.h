// The launch ticket: the launch record's values signed by the portal, valid
// for minutes and once, carried to the launcher in a "quorlynx:" link that
// any browser hands to the shell. The portal (or qzpublish) writes it; the
// launcher reads it with the same code, so the two never disagree.
//
// The ticket is ASCII text, one "Key=value" line each, every line ending in
// "\n" (no "\r"), the header first:
//   QuorlynxTicket/1
//   Audience=Quorlynx
//   Issued=2025-06-01T12:00:00Z      UTC, at most 10 minutes before Expires
//   Expires=2025-06-01T12:05:00Z
//   Nonce=<32 hex digits>            16 random bytes
//   RunMode=Normal                   then any launch field, each at most once
// Values are percent-encoded (see PercentDecode), so a cookie may hold any
// byte but zero. The link is
//   quorlynx:launch?t=<base64url of the ticket>&s=<base64url of the signature>
// where the signature is ECDSA P-256 over the SHA-256 of the exact ticket
// bytes, as r||s: the form a manifest's signature has.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/codec.h"
#include "format/launch_record.h"

namespace qz {

constexpr char kTicketHeader[] = "QuorlynxTicket/1";
constexpr char kTicketAudience[] = "Quorlynx";
// The link's form; its scheme may come in any case, the rest is exact.
constexpr char kTicketScheme[] = "quorlynx:";
constexpr char kTicketLinkPath[] = "launch?t=";
constexpr char kTicketSignaturePart[] = "&s=";

// Seconds: the longest a ticket may be valid, and how far the player's clock
// may be off the portal's either way.
constexpr std::int64_t kMaxTicketValidity = 600;
constexpr std::int64_t kTicketClockSkew = 120;
// A larger ticket is none: every launch field percent-encoded at its full
// width still fits.
constexpr std::size_t kMaxTicketBytes = 8192;
constexpr std::size_t kTicketNonceBytes = 16;

// The launch fields a ticket may carry: the launch record's, by its names and
// widths (a value may fill its field; the record then carries no terminating
// zero).
using TicketField = LaunchBlockField;
inline constexpr const auto& kTicketFields = kLaunchBlockFields;
constexpr std::size_t kTicketFieldCount = kLaunchFieldCount;

// Whether a text begins with the link's scheme, in any case.
bool StartsWithTicketScheme(std::string_view text);

// The index of a launch field by its exact name.
std::optional<std::size_t> TicketFieldIndex(std::string_view name);

using TicketNonce = std::array<std::uint8_t, kTicketNonceBytes>;

struct Ticket {
  std::string audience = kTicketAudience;
  std::int64_t issued = 0;  // seconds since 1970-01-01 UTC
  std::int64_t expires = 0;
  TicketNonce nonce{};
  // The decoded values, in kTicketFields order; a field not given is empty.
  std::array<std::string, kTicketFieldCount> fields;
};

enum class TicketProblem {
  None,
  NotALink,      // not quorlynx:launch?t=...&s=... with nothing else
  LinkEncoding,  // a part is not base64url, or the signature not 64 bytes
  TooLarge,      // over kMaxTicketBytes
  Header,        // no header, or a version this launcher does not read
  Line,          // a line that is not Key=value (a key of letters), an empty one, no final "\n"
  UnknownKey,
  RepeatedKey,
  MissingKey,    // Audience, Issued, Expires or Nonce
  BadValue,      // a byte outside the grammar ("\r" too), a bad escape, a zero byte, or not a time or a nonce
  FieldTooWide,  // wider than its field in the launch record
  Validity,      // Expires not after Issued, or more than 10 minutes after it
  Audience,      // meant for another program
  NotYetValid,   // Issued later than now, beyond the clock skew
  Expired,       // Expires earlier than now, beyond the clock skew
};

// A short English reason for the log and the release tool's messages.
const char* TicketProblemText(TicketProblem problem);

struct TicketLink {
  TicketProblem problem = TicketProblem::None;
  std::string ticket;  // the exact bytes the signature covers
  P256Signature signature{};
};

// The link's two parts, decoded; nothing about the ticket is read yet.
TicketLink ParseTicketLink(std::string_view link);
std::string TicketLinkOf(std::string_view ticket, const P256Signature& signature);

struct TicketReading {
  TicketProblem problem = TicketProblem::None;
  std::string key;  // the key the problem is about, when there is one
  Ticket ticket;
};

// Reads a ticket's text; any byte outside the grammar above refuses it.
TicketReading ReadTicket(std::string_view text);

// What a launcher checks besides the signature and the nonce: the audience,
// then the time against `now` (seconds since 1970 UTC) with the clock skew.
TicketProblem CheckTicketClaims(const Ticket& ticket, std::int64_t now);

// The text of a ticket: the claims, then the launch fields that are not
// empty, in kTicketFields order, each value percent-encoded. Whether a
// launcher takes it is ReadTicket's to say: writers read their text back.
std::string TicketTextOf(const Ticket& ticket);

// "YYYY-MM-DDTHH:MM:SSZ", years 1970 to 9999: seconds since 1970 UTC.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string UtcTimeText(std::int64_t seconds);

}  // namespace qz
