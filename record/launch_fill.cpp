#include "record/launch_fill.h"

namespace qz {

LaunchBlock FillLaunchBlock(const std::string (&texts)[11]) {
  LaunchBlock block;
  std::memset(&block, 0, sizeof block);
  char* base = reinterpret_cast<char*>(&block);
  for (int i = 0; i < 11; ++i) {
    const LaunchBlockField& f = kLaunchBlockFields[i];
    SetFieldBytes(base + f.offset, f.width, texts[i].data(), texts[i].size());
  }
  return block;
}

}  // namespace qz
