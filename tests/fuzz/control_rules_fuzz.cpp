// Fuzz target for what a page controls in the browser control: its document
// cookie against the data cookie, and its address against the trusted sites.
// Input: document cookie, data cookie, page address and one listed site,
// separated by the byte 0x01.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/cookie_check.h"
#include "control/site_origin.h"
#include "base/portal.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool PlainHost(const std::string& host) {
  for (char c : host) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.')) return false;
  }
  return !host.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string parts[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t end = i < 3 ? input.find('\x01', start) : std::string::npos;
    parts[i] = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) break;
    start = end + 1;
  }

  const auto values = qz::ParseDocumentCookie(parts[0]);
  if (values) {
    Check(values->code.size() <= qz::kMaxCookieValue && values->id.size() <= qz::kMaxCookieValue);
    Check(values->code.find('&') == std::string::npos);
  }
  const bool passes = qz::CookieCheckPasses(parts[0], parts[1]);
  if (passes) {
    const std::string dataText = parts[1].substr(0, parts[1].find('\0'));
    Check(values && dataText.find(values->code) != std::string::npos &&
          dataText.find(values->id) != std::string::npos);
  }

  const std::vector<std::string> listed = {parts[3]};
  if (qz::IsTrustedPage(parts[2], qz::kPortalAddress, listed)) {
    const auto page = qz::ParseOrigin(parts[2]);
    Check(page && PlainHost(page->host) && (page->scheme == "https" || page->scheme == "http"));
    Check(page->port >= 1 && page->port <= 65535);
  }
  return 0;
}
