#include "zip/zip_buffer.h"

#include <cstring>

CZipBuffer::CZipBuffer(const CZipBuffer& other) { *this = other; }

CZipBuffer& CZipBuffer::operator=(const CZipBuffer& other) {
  if (this != &other) {
    Allocate(other.size);
    if (size != 0) std::memcpy(bytes.get(), other.bytes.get(), size);
  }
  return *this;
}

CZipBuffer::CZipBuffer(CZipBuffer&& other) noexcept : bytes(std::move(other.bytes)), size(other.size) {
  other.size = 0;
}

CZipBuffer& CZipBuffer::operator=(CZipBuffer&& other) noexcept {
  if (this != &other) {
    bytes = std::move(other.bytes);
    size = other.size;
    other.size = 0;
  }
  return *this;
}

void CZipBuffer::Allocate(uint32_t newSize) {
  Release();
  if (newSize == 0) return;
  bytes.reset(new uint8_t[newSize]);
  size = newSize;
}

void CZipBuffer::Release() {
  bytes.reset();
  size = 0;
}
