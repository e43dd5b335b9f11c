#include "update/version_decision.h"

namespace qz {

Action DecideVersionAction(std::uint16_t installed, std::uint16_t minVer, std::uint16_t latest) {
  if (installed == 0) return Action::FullInstall;      // not installed
  if (installed > latest) return Action::FullInstall;  // unknown to the server: start over
  if (installed < minVer) return Action::FullInstall;  // too old for patches
  if (installed < latest) return Action::Upgrade;
  return Action::None;
}

}  // namespace qz
