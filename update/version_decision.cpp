#include "update/version_decision.h"

namespace qz {

int DecideVersionAction(std::uint16_t installed, std::uint16_t minVer, std::uint16_t latest) {
  if (installed == 0) return 1;       // not installed
  if (installed > latest) return 1;   // unknown to the server: start over
  if (installed < minVer) return 1;   // too old for patches
  if (installed < latest) return 2;
  return 0;
}

}  // namespace qz
