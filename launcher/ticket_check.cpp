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
  // The ticket's fields are the record's, in its order and with its widths.
  return FillLaunchBlock(ticket.fields);
}

}  // namespace qz
