// An owned byte array with a 32-bit size; copies are deep.
#pragma once

#include <cstdint>
#include <memory>

class CZipBuffer {
 public:
  CZipBuffer() = default;
  explicit CZipBuffer(uint32_t size) { Allocate(size); }
  CZipBuffer(const CZipBuffer& other);
  CZipBuffer& operator=(const CZipBuffer& other);
  CZipBuffer(CZipBuffer&& other) noexcept;
  CZipBuffer& operator=(CZipBuffer&& other) noexcept;

  // Drops the old contents; the new bytes are not cleared. Size 0 leaves it empty.
  void Allocate(uint32_t size);
  void Release();

  uint8_t* Data() { return bytes.get(); }
  const uint8_t* Data() const { return bytes.get(); }
  uint32_t GetSize() const { return size; }
  bool IsEmpty() const { return size == 0; }

 private:
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};
