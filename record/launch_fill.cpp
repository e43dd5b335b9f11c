#include "record/launch_fill.h"

namespace qz {

LaunchBlock FillLaunchBlock(const LaunchTexts& texts) {
  LaunchBlock block;
  std::memset(&block, 0, sizeof block);
  char* base = reinterpret_cast<char*>(&block);
  for (const LaunchBlockField& f : kLaunchBlockFields) {
    const std::string& text = texts[static_cast<std::size_t>(f.field)];
    SetFieldBytes(base + f.offset, f.width, text.data(), text.size());
  }
  return block;
}

}  // namespace qz
