// One file the update list says to fetch: the version it brings the program
// to, where it lives on the server and where the worker stores it.
#pragma once

#include <array>
#include <cstdint>

namespace qz {

// The SHA-256 the publisher released a file with, when the manifest names one.
struct FileHash {
  bool present = false;
  std::array<std::uint8_t, 32> digest{};
};

struct UpdateFile {
  std::uint16_t version = 0;
  char url[260] = {};
  char localPath[260] = {};
  FileHash hash;
};

}  // namespace qz
