// Reads the scan's batches, the next one on a second thread while the scan works
// on the current one, for sources that allow it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/SectorSource.h"

namespace kestrum {

class BatchReader {
public:
    BatchReader(SectorSource& source, size_t bufferBytes);
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // Fills buffer (bufferBytes long) with count sectors from start: the batch read
    // ahead when it is this one, else read now.
    void read(uint64_t start, uint32_t count, std::vector<uint8_t>& buffer);
    // Starts reading count sectors from start, to be taken by the next read().
    void readAhead(uint64_t start, uint32_t count);

private:
    void work();

    SectorSource& source_;
    std::vector<uint8_t> spare_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;  // a batch was asked for and not yet taken
    bool ready_ = false;      // ... and it is in spare_
    bool quit_ = false;
    uint64_t start_ = 0;
    uint32_t count_ = 0;
    std::thread thread_;
};

}  // namespace kestrum
