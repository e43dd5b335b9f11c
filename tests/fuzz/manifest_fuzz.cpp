// Fuzz target for the update manifest: any text, any installation record.
// Whatever the text, every value fits its field and every address taken is a
// web address.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "format/limits.h"
#include "format/manifest.h"
#include "format/web_address.h"
#include "update/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > qz::kMaxManifestBytes) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The record's version follows from the name, so lookups vary with the input.
  const qz::ManifestReading reading = qz::ReadManifest(text, [](const std::string& name) {
    if (name.size() > qz::kMaxProgName) std::abort();
    return name[0] == 'x' ? std::uint16_t{0} : static_cast<std::uint16_t>(name.size() * 37);
  });
  const qz::ManifestPlan& plan = reading.plan;

  if (plan.progName.size() > qz::kMaxProgName || plan.fullDnUrl.size() > qz::kMaxUrl ||
      plan.upBaseUrl.size() > qz::kMaxUrl) {
    std::abort();
  }
  if (!plan.fullDnUrl.empty() && !qz::IsWebUrl(plan.fullDnUrl.c_str())) std::abort();
  if (!plan.upBaseUrl.empty() && (!qz::IsWebUrl(plan.upBaseUrl.c_str()) || plan.upBaseUrl.back() != '/')) std::abort();
  for (const auto& file : plan.files) {
    if (file.url.size() > qz::kMaxUrl || !qz::IsWebUrl(file.url.c_str())) std::abort();
    if (file.version <= plan.installedVer) std::abort();
  }
  // A hash binds only to a named installer.
  if (plan.fullDnSha256 && plan.fullDnUrl.empty()) std::abort();
  // Without a header nothing is taken.
  if (reading.outcome == qz::ManifestOutcome::NoHeader && (!plan.files.empty() || !plan.progName.empty() || plan.minVer)) {
    std::abort();
  }
  qz::UpdateList list = qz::PlanOf(plan).updateList;
  qz::SortByVersion(list);
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i - 1].version > list[i].version) std::abort();
  }
  return 0;
}
