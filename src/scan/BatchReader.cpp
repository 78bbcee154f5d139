// Batches read ahead on a worker and handed over in place, under a lock.
#include "scan/BatchReader.h"

#include <algorithm>

#include "disk/SectorView.h"

namespace kestrum {

namespace {
// winpthreads under wine has lost threads and hung waits (see WorkerSlot): on
// Windows the scan reads its batches itself.
#ifdef _WIN32
constexpr bool kWorkerThreads = false;
#else
constexpr bool kWorkerThreads = true;
#endif
}  // namespace

BatchReader::BatchReader(SectorSource& source, uint64_t rangeEnd)
    : source_(source),
      rangeEnd_(rangeEnd),
      ahead_(kWorkerThreads && source.takesReadsFromTwoThreads()) {
    slots_[current_].state = State::Held;
}

BatchReader::~BatchReader() {
    {
        std::lock_guard lock(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        if (worker.joinable()) worker.join();
}

const uint8_t* BatchReader::read(uint64_t start, uint32_t count) {
    if (count == 0) return slots_[current_].bytes.data();
    std::unique_lock lock(lock_);
    Slot* hit = nullptr;
    for (Slot& s : slots_) {
        const bool inStream =
            s.state == State::Wanted || s.state == State::Reading || s.state == State::Ready;
        if (inStream && s.start == start && s.count == count && (!hit || s.order < hit->order))
            hit = &s;
    }
    if (hit) {
        // Batches of the stream before this one were skipped by the detector.
        for (Slot& s : slots_)
            if (s.order < hit->order) drop(s);
        if (hit->state != State::Ready) {
            if (sleepingWorkers_ > 0) wake_.notify_all();
            callerWaiting_ = true;
            done_.wait(lock, [this, hit] { return hit->state == State::Ready && callerMayGo(); });
            callerWaiting_ = false;
        }
        slots_[current_].state = State::Free;
        current_ = static_cast<size_t>(hit - slots_.data());
        hit->state = State::Held;
        if (hit->result != 0) {
            ++handed_;
            fill();
            return hit->bytes.data();
        }
        // The worker's try failed and halted the stream: read the batch here.
    } else {
        for (Slot& s : slots_) drop(s);
        streamCount_ = 0;
    }
    Slot& mine = slots_[current_];
    if (mine.bytes.size() < size_t{count} * kSectorBytes)
        mine.bytes.resize(size_t{count} * kSectorBytes);
    lock.unlock();
    // A new stream starts after the read that starts it, so the worker finds the
    // source opened rather than opening it beside the caller.
    const int32_t whole = source_.read(start, count, mine.bytes.data());
    lock.lock();
    // Where sectors failed, the rest of a failing medium is read here, sector by
    // sector where it must, rather than tried twice in large requests.
    if (whole != 0 && ahead_) {
        streamCount_ = count;
        next_ = start + count;
        fill();
    }
    return mine.bytes.data();
}

void BatchReader::drop(Slot& s) {
    if (s.state == State::Reading)
        s.state = State::Dropped;  // the worker frees it when its read is done
    else if (s.state == State::Wanted || s.state == State::Ready)
        s.state = State::Free;
}

void BatchReader::fill() {
    if (streamCount_ == 0) return;
    bool wanted = false;
    for (Slot& s : slots_) {
        if (s.state != State::Free || next_ >= rangeEnd_) continue;
        s.start = next_;
        s.count = static_cast<uint32_t>(std::min<uint64_t>(streamCount_, rangeEnd_ - next_));
        if (s.bytes.size() < size_t{s.count} * kSectorBytes)
            s.bytes.resize(size_t{s.count} * kSectorBytes);
        s.state = State::Wanted;
        s.order = ++orders_;
        next_ += s.count;
        wanted = true;
    }
    if (!wanted) return;
    if (!workers_[0].joinable()) {
        for (std::thread& worker : workers_) worker = std::thread([this] { work(); });
    } else if (sleepingWorkers_ > 0 && count(State::Wanted) >= kHalf) {
        wake_.notify_all();
    }
}

size_t BatchReader::count(State state) const {
    return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(),
                                             [state](const Slot& s) { return s.state == state; }));
}

void BatchReader::work() {
    std::unique_lock lock(lock_);
    for (;;) {
        Slot* s = nullptr;
        ++sleepingWorkers_;
        wake_.wait(lock, [&] {
            for (Slot& c : slots_)
                if (c.state == State::Wanted && (!s || c.order < s->order)) s = &c;
            return quit_ || s;
        });
        --sleepingWorkers_;
        if (quit_) return;
        s->state = State::Reading;
        lock.unlock();
        const int32_t result = source_.tryRead(s->start, s->count, s->bytes.data());
        lock.lock();
        if (s->state == State::Dropped) {
            s->state = State::Free;
            fill();
        } else {
            s->state = State::Ready;
            s->result = result;
            if (result == 0) {
                // A bad area: nothing more is tried ahead until the caller has
                // read past it.
                for (Slot& c : slots_)
                    if (c.state == State::Wanted) c.state = State::Free;
                streamCount_ = 0;
            }
        }
        if (callerWaiting_ && callerMayGo()) done_.notify_one();
    }
}

uint64_t BatchReader::readAhead() const {
    std::lock_guard lock(lock_);
    return handed_;
}

}  // namespace kestrum
