// What a publisher runs after syncing a release to its mirrors: every file a
// manifest lists, fetched from every mirror it names, against the stated
// hash and size.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "publish/manifest_text.h"

namespace qz::publish {

// The manifest's mirrors (MirrorURL), in order.
std::vector<std::string> ManifestMirrors(const std::string& text);

// One line per mirror and one per file that is missing or differs there;
// true when every file on every mirror is the listed one. Files are fetched
// with curl (following redirects, as launchers do) and hashed as they arrive.
bool CheckMirrors(const std::vector<std::string>& mirrors, const std::vector<ListedFile>& files,
                  std::ostream& out);

}  // namespace qz::publish
