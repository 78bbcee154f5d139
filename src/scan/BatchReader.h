// The scan loop's reads. From the page cache a scan is as fast as the copy out of
// it, so the batches after the one being looked at are read on a worker into
// buffers of their own, and the detector looks at them where they were read.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "disk/SectorSource.h"

namespace kestrum {

class BatchReader {
public:
    // Reads ahead only when source takes reads from two threads at once; the
    // stream of batches it expects stops at rangeEnd.
    BatchReader(SectorSource& source, uint64_t rangeEnd);
    // Waits for a read in progress on the worker.
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // The sectors [start, start + count) as source.read() gives them. The bytes
    // stay in place until the next call. A batch the worker read ahead whole is
    // handed over as it lies; anything else, a batch it could not read whole
    // included, is read here, so every question about a bad sector and every
    // count of one happens on the caller's thread and in its order.
    const uint8_t* read(uint64_t start, uint32_t count);

    // Batches handed over from the worker, since construction.
    uint64_t readAhead() const;

private:
    // One buffer for the caller's batch, the others filled ahead of it. Either
    // side sleeps until half of them are ready for it: a wake-up per batch would
    // cost as much as the overlap gains.
    static constexpr size_t kBuffers = 8;
    static constexpr size_t kHalf = kBuffers / 2;
    // Held: the caller's batch. Dropped: being read, no longer wanted.
    enum class State { Free, Held, Wanted, Reading, Ready, Dropped };
    struct Slot {
        std::vector<uint8_t> bytes;
        uint64_t start = 0;
        uint32_t count = 0;
        State state = State::Free;
        int32_t result = 0;
        uint64_t order = 0;  // place in the stream; the lowest wanted is read first
    };

    // Wants the batches after next_ into the free buffers. Under lock_.
    void fill();
    // Gives up s if it is wanted or read ahead. Under lock_.
    void drop(Slot& s);
    size_t count(State state) const;
    // What the caller waits for: its batch and then half of the others read, or
    // nothing more to read. Under lock_.
    bool callerMayGo() const {
        return count(State::Ready) >= kHalf ||
               (count(State::Wanted) == 0 && count(State::Reading) == 0);
    }
    void work();

    SectorSource& source_;
    const uint64_t rangeEnd_;
    const bool ahead_;
    mutable std::mutex lock_;
    std::condition_variable wake_;  // the worker: a batch is wanted, or quit
    std::condition_variable done_;  // the caller: a batch is read
    std::array<Slot, kBuffers> slots_;
    size_t current_ = 0;        // the caller's buffer
    uint64_t next_ = 0;         // where the stream's next batch starts
    uint32_t streamCount_ = 0;  // sectors per batch of the stream; 0 = no stream
    uint64_t orders_ = 0;
    uint64_t handed_ = 0;
    bool quit_ = false;
    bool callerWaiting_ = false;
    // Two copies out of the page cache run at once on two cores: the copy, not
    // the detection, is what a scan of a cached image waits for.
    std::array<std::thread, 2> workers_;  // started with the first stream
    int sleepingWorkers_ = 0;
};

}  // namespace kestrum
