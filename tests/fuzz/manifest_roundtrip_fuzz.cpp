// Fuzz target for the manifest writer against the reader: whatever content
// the writer accepts, the launcher's reader reads back exactly, with nothing
// passed over. The input is the content, one value a line: program name,
// MinVer, installer address, base address, then "version name" per file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/manifest.h"

namespace {
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

std::uint16_t Number(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text.substr(0, 6)) value = value * 10 + static_cast<std::uint8_t>(c) % 10;
  return static_cast<std::uint16_t>(value);
}

qz::Sha256Digest Digest(std::size_t seed) {
  qz::Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(seed * 31 + i);
  return digest;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::vector<std::string> lines = Lines(std::string(reinterpret_cast<const char*>(data), size));
  if (lines.size() < 4) return 0;
  qz::ManifestContent content;
  content.progName = lines[0];
  content.minVer = Number(lines[1]);
  content.fullUrl = lines[2];
  content.fullSha256 = Digest(0);
  content.fullSize = Number(lines[1]);
  content.serial = Number(lines[0].substr(0, 3)) + 1u;
  content.expires = static_cast<std::int64_t>(Number(lines[2])) * 60;  // whole minutes
  content.target = size % 2 ? qz::ManifestTarget::Avatar : qz::ManifestTarget::Game;
  content.baseUrl = lines[3];
  for (std::size_t i = 4; i < lines.size(); ++i) {
    const std::size_t blank = lines[i].find(' ');
    if (blank == std::string::npos) continue;
    const std::uint16_t version = Number(lines[i].substr(0, blank));
    content.files.push_back({version, lines[i].substr(blank + 1), Digest(i), version * 7u});
  }
  if (qz::CheckManifestContent(content)) return 0;  // refused: nothing to compare

  const qz::ManifestReading reading =
      qz::ReadManifest(qz::ManifestTextOf(content), [](const std::string&) { return std::uint16_t{0}; });
  const qz::ManifestPlan& plan = reading.plan;
  if (reading.outcome != qz::ManifestOutcome::Read || reading.unboundFileValues || reading.keyWithoutValues) {
    std::abort();
  }
  if (plan.progName != content.progName || plan.minVer != content.minVer || plan.fullDnUrl != content.fullUrl ||
      plan.fullDnSha256 != content.fullSha256 || plan.fullDnSize != content.fullSize ||
      plan.serial != content.serial || plan.expires != content.expires || plan.target != content.target) {
    std::abort();
  }
  const std::string base = content.baseUrl.empty() || content.baseUrl.back() == '/' ? content.baseUrl : content.baseUrl + "/";
  if (plan.upBaseUrl != base || plan.files.size() != content.files.size()) std::abort();
  for (std::size_t i = 0; i < plan.files.size(); ++i) {
    const qz::ManifestFile& read = plan.files[i];
    const qz::ManifestEntry& written = content.files[i];
    if (read.version != written.version || read.url != base + written.name || read.sha256 != written.sha256 ||
        read.size != written.size) {
      std::abort();
    }
  }
  return 0;
}
