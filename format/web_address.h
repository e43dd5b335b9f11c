// Web addresses as every side reads them: the launcher before it fetches,
// the release tool before it writes a manifest, the control before it trusts
// a page. One reading, so an address one side accepts is never one another
// side reads as a different host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

struct WebAddress {
  bool https = false;
  std::string host;   // as written: a name, an IPv4 address or "[...]"
  unsigned port = 0;  // the scheme's default when none is written
};

// "http://" or "https://" (either case), then an authority of a host and an
// optional ":port" (1 to 65535, digits only). The authority ends at the first
// "/", "?" or "#"; a "@", "%" or "\" anywhere before the first "/" refuses
// the address, since readers disagree on which host such a text names
// ("http://localhost?@elsewhere/"). Hosts are names of letters, digits, "-"
// and "_" in non-empty dot-separated labels, or a bracketed IPv6 literal.
// Blanks and control characters anywhere refuse the address.
std::optional<WebAddress> ParseWebAddress(std::string_view url);

// A port as written after the colon: 1 to 65535 in at most five digits.
std::optional<unsigned> ParsePort(std::string_view digits);

// This PC: "localhost" (any case), 127.x.y.z as four plain decimal numbers
// without leading zeros (some resolvers read "0177" as octal), or "[::1]".
bool IsLoopbackHost(std::string_view host);

// http:// or https:// with something after the scheme.
bool IsWebUrl(const char* url);

// What may actually be downloaded: https to any host, plain http only to this
// PC, for local testing. Anything ParseWebAddress refuses is refused.
bool IsFetchUrl(std::string_view url);
inline bool IsFetchUrl(const char* url) { return url != nullptr && IsFetchUrl(std::string_view(url)); }

// Where a request may end after its redirects: a fetchable address, and never
// plain http once it started with https.
bool IsFetchRedirect(const char* requested, const char* final);

// Where the signature of the file at `url` lies: ".sig" after the path, before
// any query or fragment, so an address a CDN signs with a query
// ("...setup.exe?Expires=...&Signature=...") keeps its query on the .sig.
std::string SignatureAddress(std::string_view url);

// The address of the same file on a mirror: the mirror's base address (ending
// in "/") followed by the file's path on its own host, without its leading
// "/" and without query or fragment (a mirror holds the same tree, not the
// same signed query). Nothing when `url` is not a web address.
std::optional<std::string> MirroredAddress(std::string_view url, std::string_view mirrorBase);

}  // namespace qz
