#include "update/url_rules.h"

#include <cctype>
#include <cstring>

namespace qz {

namespace {
bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}
}  // namespace

bool IsWebUrl(const char* url) {
  if (!url) return false;
  const char* rest = nullptr;
  if (StartsWithNoCase(url, "http://")) rest = url + 7;
  else if (StartsWithNoCase(url, "https://")) rest = url + 8;
  // A host must follow the scheme.
  return rest != nullptr && *rest != '\0' && *rest != '/';
}

}  // namespace qz
