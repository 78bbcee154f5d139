// A process-wide worker handle: non-null exactly while its worker runs. The page
// learns that a worker ended only by polling this slot.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace kestrum {

class WorkerSlot {
public:
    WorkerSlot() = default;
    WorkerSlot(const WorkerSlot&) = delete;
    WorkerSlot& operator=(const WorkerSlot&) = delete;

    bool running() const { return running_.load(); }
    explicit operator bool() const { return running(); }

    // Starts body on a new thread. The slot is taken before body can run, and
    // clearing it is the worker's last act, so even a worker that ends at once
    // never leaves a stale handle behind. Returns false when a worker already runs.
    bool start(std::function<void()> body);

    // Blocks until the slot is empty (tests, shutdown).
    void waitUntilIdle() const;
    // As waitUntilIdle, for at most limit; true when the slot is empty. A command
    // line that shows progress between waits still ends as soon as its worker does.
    bool waitUntilIdleFor(std::chrono::milliseconds limit) const;

private:
    // A mutex and condition variable rather than atomic wait or a latch, which
    // hang under winpthreads on wine; there the waiter polls (see waitUntilIdle).
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
};

}  // namespace kestrum
