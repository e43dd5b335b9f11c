#include "base/machine_settings.h"

#include <cctype>

namespace qz {

const MachineSetting* FindMachineSetting(std::string_view name) {
  for (const MachineSetting& setting : kMachineSettings) {
    const std::string_view own = setting.name;
    if (own.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < own.size(); ++i) {
      same = std::tolower(static_cast<unsigned char>(own[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return &setting;
  }
  return nullptr;
}

}  // namespace qz
