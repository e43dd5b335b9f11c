// Which addresses the launcher may fetch: only web addresses, so neither a
// page nor a manifest can point it at a local file or another scheme.
#pragma once

namespace qz {

// http:// or https:// with something after the scheme.
bool IsWebUrl(const char* url);

// What may actually be downloaded: https to any host, plain http only to this
// PC (127.0.0.0/8, localhost, [::1]) for local testing. Anything that cannot be
// read as exactly that (user names, encoded or odd host spellings, backslashes)
// is refused.
bool IsFetchUrl(const char* url);

// Where a request may end after its redirects: a fetchable address, and never
// plain http once it started with https.
bool IsFetchRedirect(const char* requested, const char* final);

}  // namespace qz
