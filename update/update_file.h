// One file the update list says to fetch: the version it brings the program
// to, where it lives on the server and where the worker stores it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/codec.h"

namespace qz {

// The SHA-256 the publisher released a file with, when the manifest names one;
// or, for the page's installer, the publishers' signatures over the file's
// bytes, of which `signaturesRequired` distinct `signers` must verify one.
struct FileHash {
  bool present = false;
  Sha256Digest digest{};
  std::vector<P256Signature> signatures;
  std::vector<P256PublicKey> signers;
  unsigned signaturesRequired = 1;

  bool Checked() const { return present || !signatures.empty(); }
};

struct UpdateFile {
  std::uint16_t version = 0;
  std::string url;
  std::string localPath;  // where this run saves it
  FileHash hash;
  // The length the manifest states (0: none stated). The server's
  // Content-Length must be exactly it, and no byte past it is taken.
  std::uint64_t size = 0;
  // The delta archive that may stand in for this whole-file patch: taken
  // only with its hash, and only when every base on disk matches.
  std::string deltaUrl;
  FileHash deltaHash;
  std::uint64_t deltaSize = 0;
};

}  // namespace qz
