// Which addresses the launcher may fetch: only web addresses, so neither a
// page nor a manifest can point it at a local file or another scheme.
#pragma once

namespace qz {

bool IsWebUrl(const char* url);

}  // namespace qz
