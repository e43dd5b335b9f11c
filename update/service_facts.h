// What the maintenance service knows of a program before it fetches
// anything, read only from places a standard user cannot write: the
// machine's settings and policy, the program's installation record under
// HKLM, and the access list of the game's folder. Nothing of the caller's
// but the program's name is used.
#pragma once

#include <string>

#include "format/service_request.h"

namespace qz {

struct ServiceSubject {
  ServiceFacts facts;
  std::string manifestUrl;  // the address an administrator's change recorded
  std::string gameDir;      // the record's folder, with its final backslash
  std::string why;          // for the support log: the first fact that failed
};

ServiceSubject ReadServiceSubject(const std::string& progName);

}  // namespace qz
