#include "zip/zip_write_ring.h"

namespace {

// The monitor held for a scope.
class Hold {
 public:
  explicit Hold(ZipSystem::Monitor& monitor) : monitor(monitor) { monitor.Lock(); }
  ~Hold() { monitor.Unlock(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  ZipSystem::Monitor& monitor;
};

}  // namespace

CZipWriteRing::CZipWriteRing(uint32_t bufferCount, uint32_t bufferSize, Sink sink)
    : sink(std::move(sink)), sizes(bufferCount, 0) {
  for (uint32_t i = 0; i < bufferCount; ++i) buffers.emplace_back(new uint8_t[bufferSize]);
  writer = std::thread([this] { Write(); });
}

CZipWriteRing::~CZipWriteRing() {
  {
    Hold hold(monitor);
    closing = true;
    monitor.WakeAll();
  }
  writer.join();
}

void CZipWriteRing::ThrowFailure() { std::rethrow_exception(failure); }

uint8_t* CZipWriteRing::Next() {
  Hold hold(monitor);
  while (queued == buffers.size() && !failure) monitor.Wait();
  if (failure) ThrowFailure();
  return buffers[next].get();
}

void CZipWriteRing::Queue(uint32_t size) {
  Hold hold(monitor);
  if (failure) ThrowFailure();
  sizes[next] = size;
  next = (next + 1) % buffers.size();
  ++queued;
  monitor.WakeAll();
}

void CZipWriteRing::Drain() {
  Hold hold(monitor);
  while (queued != 0 && !failure) monitor.Wait();
  if (failure) ThrowFailure();
}

void CZipWriteRing::Write() {
  Hold hold(monitor);
  for (;;) {
    while (queued == 0 && !closing) monitor.Wait();
    if (closing) return;
    const uint8_t* data = buffers[oldest].get();
    const uint32_t size = sizes[oldest];
    monitor.Unlock();
    std::exception_ptr error;
    try {
      sink(data, size);
    } catch (...) {
      error = std::current_exception();
    }
    monitor.Lock();
    if (error) {
      // Nothing after a failed write is written: the file is not the entry.
      failure = error;
      monitor.WakeAll();
      return;
    }
    oldest = (oldest + 1) % buffers.size();
    --queued;
    monitor.WakeAll();
  }
}
