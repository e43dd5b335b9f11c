// Fuzz target for the update manifest: any text, any installation record.
// Whatever the text, every value stays within its field and every address
// taken is a web address.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "update/manifest.h"
#include "update/url_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > qz::kMaxManifestBytes) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);

  char progName[20] = {};
  char fullDnUrl[260] = {};
  char upBaseUrl[260] = {};
  std::uint16_t minVer = 0, latestVer = 0, installedVer = 0;
  qz::UpdateList list;
  qz::FileHash fullDnHash;
  const qz::ManifestFields fields{progName,  fullDnUrl,    upBaseUrl, minVer,
                                  latestVer, installedVer, list,      fullDnHash};
  // The record's version follows from the name, so lookups vary with the input.
  const auto outcome = qz::ParseManifest(&text[0], fields, [](const char* name, std::uint16_t& version) {
    if (std::strlen(name) >= sizeof progName) std::abort();
    if (name[0] != 'x') version = static_cast<std::uint16_t>(std::strlen(name) * 37);
  });

  if (!std::memchr(progName, 0, sizeof progName) || !std::memchr(fullDnUrl, 0, sizeof fullDnUrl) ||
      !std::memchr(upBaseUrl, 0, sizeof upBaseUrl)) {
    std::abort();
  }
  if (fullDnUrl[0] && !qz::IsWebUrl(fullDnUrl)) std::abort();
  if (upBaseUrl[0] && (!qz::IsWebUrl(upBaseUrl) || upBaseUrl[std::strlen(upBaseUrl) - 1] != '/')) std::abort();
  for (const auto& file : list) {
    if (!std::memchr(file->url, 0, sizeof file->url) || !qz::IsWebUrl(file->url)) std::abort();
  }
  // A hash binds only to a named installer.
  if (fullDnHash.present && !fullDnUrl[0]) std::abort();
  // Without a header nothing is taken.
  if (outcome == qz::ManifestOutcome::NoHeader && (!list.empty() || progName[0] || minVer)) std::abort();
  qz::SortByVersion(list);
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i - 1]->version > list[i]->version) std::abort();
  }
  return 0;
}
