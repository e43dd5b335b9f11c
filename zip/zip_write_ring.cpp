#include "zip/zip_write_ring.h"

CZipWriteRing::CZipWriteRing(uint32_t bufferCount, uint32_t bufferSize, Sink sink)
    : sink(std::move(sink)), bufferSize(bufferSize), sizes(bufferCount, 0) {
    for (uint32_t i = 0; i < bufferCount; ++i) buffers.emplace_back(new uint8_t[bufferSize]);
    writer = std::thread([this] { Write(); });
}

CZipWriteRing::~CZipWriteRing() {
    {
        std::lock_guard<std::mutex> hold(mutex);
        closing = true;
    }
    changed.notify_all();
    writer.join();
}

void CZipWriteRing::ThrowFailure() { std::rethrow_exception(failure); }

uint8_t* CZipWriteRing::Next() {
    std::unique_lock<std::mutex> hold(mutex);
    changed.wait(hold, [this] { return queued < buffers.size() || failure; });
    if (failure) ThrowFailure();
    return buffers[next].get();
}

void CZipWriteRing::Queue(uint32_t size) {
    {
        std::lock_guard<std::mutex> hold(mutex);
        if (failure) ThrowFailure();
        sizes[next] = size;
        next = (next + 1) % buffers.size();
        ++queued;
    }
    changed.notify_all();
}

void CZipWriteRing::Drain() {
    std::unique_lock<std::mutex> hold(mutex);
    changed.wait(hold, [this] { return queued == 0 || failure; });
    if (failure) ThrowFailure();
}

void CZipWriteRing::Write() {
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
        changed.wait(hold, [this] { return queued > 0 || closing; });
        if (closing) return;
        const uint8_t* data = buffers[oldest].get();
        const uint32_t size = sizes[oldest];
        hold.unlock();
        std::exception_ptr error;
        try {
            sink(data, size);
        } catch (...) {
            error = std::current_exception();
        }
        hold.lock();
        if (error) {
            // Nothing after a failed write is written: the file is not the entry.
            failure = error;
            changed.notify_all();
            return;
        }
        oldest = (oldest + 1) % buffers.size();
        --queued;
        changed.notify_all();
    }
}
