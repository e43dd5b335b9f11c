// What the launcher makes of a launch ticket besides its signature and its
// nonce: whose keys it believes, and the launch record the ticket carries.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/codec.h"
#include "format/ticket.h"
#include "record/launch_block.h"

namespace qz {

// The portal's keys from the lines of PortalKeys. Every line must be one key
// (base64 of a P-256 point, blanks around allowed): a list with a line that is
// none was configured wrongly, and no ticket is believed until it is mended.
std::optional<std::vector<P256PublicKey>> PortalKeysOf(const std::vector<std::string>& lines);

// The launch record exactly as the ticket carries it: each field its value,
// zero-padded; a value that fills its field has no terminating zero.
LaunchBlock RecordOfTicket(const Ticket& ticket);

}  // namespace qz
