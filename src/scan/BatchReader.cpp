#include "scan/BatchReader.h"

namespace kestrum {

BatchReader::BatchReader(SectorSource& source, size_t bufferBytes)
    : source_(source), spare_(source.readsAhead() ? bufferBytes : 0) {
    if (source.readsAhead()) thread_ = std::thread([this] { work(); });
}

BatchReader::~BatchReader() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BatchReader::readAhead(uint64_t start, uint32_t count) {
    if (!thread_.joinable() || count == 0) return;
    {
        std::unique_lock lock(mutex_);
        // An earlier batch nobody took (the scan resumed elsewhere) is dropped.
        changed_.wait(lock, [this] { return !requested_ || ready_; });
        start_ = start;
        count_ = count;
        requested_ = true;
        ready_ = false;
    }
    changed_.notify_all();
}

void BatchReader::read(uint64_t start, uint32_t count, std::vector<uint8_t>& buffer) {
    if (thread_.joinable()) {
        std::unique_lock lock(mutex_);
        if (requested_) {
            // The spare buffer is the worker's until its read is done.
            changed_.wait(lock, [this] { return ready_; });
            requested_ = false;
            if (start_ == start && count_ == count) {
                buffer.swap(spare_);
                return;
            }
        }
    }
    source_.read(start, count, buffer.data());
}

void BatchReader::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || (requested_ && !ready_); });
        if (quit_) return;
        const uint64_t start = start_;
        const uint32_t count = count_;
        lock.unlock();
        source_.read(start, count, spare_.data());
        lock.lock();
        ready_ = true;
        changed_.notify_all();
    }
}

}  // namespace kestrum
