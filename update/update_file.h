// One file the update list says to fetch: the version it brings the program
// to, where it lives on the server and where the worker stores it.
#pragma once

#include <cstdint>

namespace qz {

struct UpdateFile {
  std::uint16_t version = 0;
  char url[260] = {};
  char localPath[260] = {};
};

}  // namespace qz
