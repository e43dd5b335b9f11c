// The maintenance service's one request, from the caller's message to the
// outcome it is told: the request names a registered program, and all else
// (the manifest's address, the folder, the keys, the floor) is read from the
// machine's own records. It applies signed upgrades through archives only,
// as the launcher's elevated copy does, and never runs a setup program or
// installs what is not installed.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "format/service_request.h"

namespace qz {

struct ServiceAnswer {
  ServiceOutcome outcome = ServiceOutcome::Failed;
  ServiceRefusal refusal = ServiceRefusal::None;
  std::string progName;  // "" when the request named none
};

// Runs on the thread that reads the pipe; progress, the support log's lines
// and the outcome go back on `pipe`. A stop (the service's or a caller that
// went away) ends the download as a cancel does.
ServiceAnswer ServeUpdateRequest(HANDLE pipe, const std::string& message, const std::atomic<bool>& stopping);

}  // namespace qz
