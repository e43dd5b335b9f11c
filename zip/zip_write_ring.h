// Inflating and writing side by side: the thread that inflates an entry fills
// the buffers of a small ring and a writer thread saves them in order. The
// ring's few fixed buffers keep memory flat; the filler waits only while
// every buffer is still queued. A failure of the writer reaches the filler
// as the writer's own exception, at its next call.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "zip/zip_system.h"

class CZipWriteRing {
 public:
  // Called on the writer thread, in order; throws to fail the ring.
  using Sink = std::function<void(const uint8_t* data, uint32_t size)>;

  CZipWriteRing(uint32_t bufferCount, uint32_t bufferSize, Sink sink);
  CZipWriteRing(const CZipWriteRing&) = delete;
  CZipWriteRing& operator=(const CZipWriteRing&) = delete;
  // Ends the writer after the buffer it is writing; what is still queued is
  // dropped (Drain first to keep it).
  ~CZipWriteRing();

  // The next buffer to fill; waits while every buffer is queued.
  uint8_t* Next();
  // Queues the buffer Next gave, with its first `size` bytes.
  void Queue(uint32_t size);
  // Waits until everything queued is written.
  void Drain();

 private:
  void Write();
  void ThrowFailure();  // with the lock held

  const Sink sink;
  std::vector<std::unique_ptr<uint8_t[]>> buffers;
  std::vector<uint32_t> sizes;
  size_t next = 0;    // the buffer to fill
  size_t oldest = 0;  // the buffer to write
  size_t queued = 0;  // filled and not yet written, the one being written included
  bool closing = false;
  std::exception_ptr failure;
  ZipSystem::Monitor monitor;
  std::thread writer;
};
