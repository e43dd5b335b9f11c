#include "base/registry_text.h"

#include <vector>

namespace qz {

bool ReadRegistryText(HKEY key, const char* name, DWORD bufferSize, std::string& text) {
  std::vector<char> buffer(bufferSize, '\0');
  DWORD size = bufferSize;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size > bufferSize) return false;
  // Stored without a terminator and filling the buffer: it did not fit.
  std::size_t length = 0;
  while (length < size && buffer[length] != '\0') ++length;
  if (length == bufferSize) return false;
  text.assign(buffer.data(), length);
  return true;
}

}  // namespace qz
