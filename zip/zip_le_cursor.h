// Bounds-checked little-endian reader over a record already in memory.
// Reading past the end yields zeros and clears Ok(), so a short record can
// never read outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>

class CZipLeCursor {
 public:
  CZipLeCursor(const uint8_t* data, size_t size) : data(data), size(size) {}

  uint16_t U16() {
    if (!Take(2)) return 0;
    return static_cast<uint16_t>(data[pos - 2] | (data[pos - 1] << 8));
  }
  uint32_t U32() {
    if (!Take(4)) return 0;
    const uint8_t* p = data + pos - 4;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | (static_cast<uint64_t>(U32()) << 32);
  }
  void Skip(size_t n) { Take(n); }
  size_t Left() const { return ok ? size - pos : 0; }
  bool Ok() const { return ok; }

 private:
  bool Take(size_t n) {
    if (!ok || size - pos < n) {
      ok = false;
      return false;
    }
    pos += n;
    return true;
  }

  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool ok = true;
};
