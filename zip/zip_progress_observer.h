// Told about an extraction as it runs; may cancel it.
#pragma once

#include <cstdint>
#include <string>

class CZipProgressObserver {
 public:
  virtual void OnStart(const std::string& entryName, const std::string& targetPath) = 0;
  virtual void OnTotal(uint64_t byteCount) = 0;
  virtual void OnEnd() = 0;
  // False cancels the extraction.
  virtual bool OnProgress(uint32_t bytesWritten) = 0;

 protected:
  ~CZipProgressObserver() = default;
};
