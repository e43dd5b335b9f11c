#include "launcher/ticket_check.h"

#include <cstring>

#include "record/launch_fill.h"

namespace qz {

std::optional<std::vector<P256PublicKey>> PortalKeysOf(const std::vector<std::string>& lines) {
  std::vector<P256PublicKey> keys;
  for (const std::string& line : lines) {
    const std::optional<P256PublicKey> key = ParsePublicKeyText(line);
    if (!key) return std::nullopt;
    keys.push_back(*key);
  }
  if (keys.empty()) return std::nullopt;
  return keys;
}

LaunchBlock RecordOfTicket(const Ticket& ticket) {
  static_assert(kTicketFieldCount == 11, "a ticket carries the record's eleven fields");
  // The ticket's fields are the record's, in its order and with its widths
  // (tests/host compares the two tables name by name).
  std::string texts[kTicketFieldCount];
  for (std::size_t i = 0; i < kTicketFieldCount; ++i) texts[i] = ticket.fields[i];
  return FillLaunchBlock(texts);
}

}  // namespace qz
