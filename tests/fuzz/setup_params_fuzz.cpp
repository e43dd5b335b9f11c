// Fuzz target for the setup modes' parameters and the DirectX requirement:
// the input fills the record's AutoDownURL, DataCookie and Spare (each up to
// its full width, so without terminator) and the parsed values must stay in
// their fields without reading past the record's fields.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "launcher/dx_requirement.h"
#include "record/launch_block.h"
#include "launcher/setup_params.h"

namespace {
template <std::size_t N>
void Terminated(const char (&field)[N]) {
  if (!std::memchr(field, 0, N)) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Three parts separated by the byte 0x01: AutoDownURL, DataCookie, Spare.
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string parts[3];
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? input.find('\x01', start) : std::string::npos;
    parts[i] = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) break;
    start = end + 1;
  }

  // On the heap, so reading past a field would reach the next one and reading
  // past the record would be caught.
  auto block = std::make_unique<qz::LaunchBlock>();
  qz::SetField(block->AutoDownURL, parts[0]);
  qz::SetField(block->DataCookie, parts[1]);
  qz::SetField(block->Spare, parts[2]);

  const qz::SetupParameters p = qz::ParseSetupParameters(*block);
  Terminated(p.regPath);
  Terminated(p.regName);
  Terminated(p.fileName);
  Terminated(p.mutexName);
  Terminated(p.parm);

  std::string dir, exe;
  if (qz::GameLocationFromValue(parts[0], p.fileName, dir, exe) && (dir.size() >= 260 || exe.size() >= 260)) {
    std::abort();
  }
  qz::SplitDirectXRequirement(block->Spare);
  return 0;
}
