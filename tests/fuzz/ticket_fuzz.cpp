// Fuzz target for the launch ticket and its link, the texts any web page can
// hand the launcher. The input is read as a ticket and as a link; whatever
// the reader takes, the writer writes back into a text the reader takes
// again with the same values, and a link that parses is the one spelling of
// its parts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "format/ticket.h"
#include "launcher/launch_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const qz::TicketReading reading = qz::ReadTicket(text);
  if (reading.problem == qz::TicketProblem::None) {
    const qz::Ticket& t = reading.ticket;
    if (t.expires <= t.issued || t.expires - t.issued > qz::kMaxTicketValidity) std::abort();
    for (std::size_t i = 0; i < qz::kTicketFieldCount; ++i) {
      if (t.fields[i].size() > qz::kTicketFields[i].width || t.fields[i].find('\0') != std::string::npos) {
        std::abort();
      }
    }
    const qz::TicketReading again = qz::ReadTicket(qz::TicketTextOf(t));
    // Rewritten, escapes may grow the text past the limit; otherwise it reads back the same.
    if (again.problem != qz::TicketProblem::TooLarge &&
        (again.problem != qz::TicketProblem::None || again.ticket.fields != t.fields ||
         again.ticket.audience != t.audience || again.ticket.nonce != t.nonce ||
         again.ticket.issued != t.issued || again.ticket.expires != t.expires)) {
      std::abort();
    }
  }

  const qz::TicketLink link = qz::ParseTicketLink(text);
  if (link.problem == qz::TicketProblem::None) {
    if (link.ticket.empty() || link.ticket.size() > qz::kMaxTicketBytes) std::abort();
    const std::string written = qz::TicketLinkOf(link.ticket, link.signature);
    // Only the scheme's case may differ.
    if (written.size() != text.size() ||
        written.compare(8, std::string::npos, text, 8, std::string::npos) != 0) {
      std::abort();
    }
  }

  const qz::LaunchCommand command = qz::ReadLaunchCommand(text.c_str());
  if (command.form == qz::LaunchForm::Link &&
      ("\"" + command.link + "\"") != text.substr(0, text.find('\0'))) {
    std::abort();
  }
  return 0;
}
