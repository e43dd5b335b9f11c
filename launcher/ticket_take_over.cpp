// Taking the launch record over from a "quorlynx:" link instead of the
// control's section: only a ticket a configured portal key signed, meant for
// this program, inside its time and never used before is believed.
#include <algorithm>

#include "base/run_log.h"
#include "base/settings.h"
#include "launcher/launcher_app.h"
#include "launcher/ticket_check.h"
#include "update/digest.h"
#include "update/manifest_fetch.h"

namespace qz {

namespace {

constexpr char kPortalKeys[] = "PortalKeys";

struct Verdict {
  bool taken;
  std::string text;  // for the support log: never a value of the ticket but its times and nonce
};
Verdict Refused(std::string why) { return {false, std::move(why)}; }

// Whether the link's ticket is taken (`block` then holds its values), and why
// not. The cheap checks come first; the nonce is taken last, so only a ticket
// that passed everything else is used up.
Verdict Judge(const LaunchCommand& command, LaunchBlock& block) {
  if (command.form != LaunchForm::Link)
    return Refused("the command line is not exactly one quoted quorlynx: address");
  const settings::ProductKeyList configured = settings::ReadProductKeys(kPortalKeys, ViewPolicy::EveryView);
  if (configured.state == settings::ProductKeyList::State::Missing)
    return Refused("no PortalKeys are configured");
  const std::optional<std::vector<P256PublicKey>> keys =
      configured.state == settings::ProductKeyList::State::Read ? PortalKeysOf(configured.lines)
                                                                : std::nullopt;
  if (!keys)
    return Refused("PortalKeys is set but unusable (another type, too large, or a line that is no key)");

  const TicketLink link = ParseTicketLink(command.link);
  if (link.problem != TicketProblem::None) return Refused(TicketProblemText(link.problem));
  const bool signedByPortal = std::any_of(keys->begin(), keys->end(), [&](const P256PublicKey& key) {
    return VerifyP256(key, link.ticket.data(), link.ticket.size(), link.signature);
  });
  if (!signedByPortal) return Refused("the signature is not one of a PortalKeys key over this ticket");

  const TicketReading reading = ReadTicket(link.ticket);
  if (reading.problem != TicketProblem::None) {
    return Refused(std::string(TicketProblemText(reading.problem)) +
                   (reading.key.empty() ? "" : ": " + reading.key));
  }
  const Ticket& ticket = reading.ticket;
  const std::int64_t now = UtcNow();
  const std::string times = " (issued " + UtcTimeText(ticket.issued) + ", expires " +
                            UtcTimeText(ticket.expires) + ", now " + UtcTimeText(now) + ")";
  const TicketProblem claims = CheckTicketClaims(ticket, now);
  if (claims != TicketProblem::None) return Refused(TicketProblemText(claims) + times);

  const std::string nonce =
      ToHex(std::string_view(reinterpret_cast<const char*>(ticket.nonce.data()), ticket.nonce.size()));
  switch (settings::ClaimTicketNonce(nonce, ticket.expires + kTicketClockSkew, now)) {
    case settings::NonceClaim::Taken: break;
    case settings::NonceClaim::AlreadyUsed:
      return Refused("the ticket was used before (nonce " + nonce + ")");
    case settings::NonceClaim::Failed: return Refused("the used tickets could not be read or recorded");
  }
  block = RecordOfTicket(ticket);
  return {true, "nonce " + nonce + times};
}

}  // namespace

bool LauncherApp::TakeOverTicket(const LaunchCommand& command) {
  const Verdict verdict = Judge(command, block_);
  runlog::Write("ticket", (verdict.taken ? "accepted: " : "refused: ") + verdict.text);
  return verdict.taken;
}

}  // namespace qz
