#include "app/WorkerSlot.h"

#include <thread>

namespace kestrum {

bool WorkerSlot::start(std::function<void()> body) {
    {
        std::lock_guard lock(mutex_);
        if (running_.load()) return false;
        running_.store(true);
    }
    try {
        std::thread([this, body = std::move(body)] {
            body();
            // Notified under the lock: once a waiter sees the slot empty it may
            // destroy the slot, and this thread touches nothing after unlocking.
            std::lock_guard lock(mutex_);
            running_.store(false);
            idle_.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard lock(mutex_);
        running_.store(false);
        idle_.notify_all();
        throw;
    }
    return true;
}

void WorkerSlot::waitUntilIdle() const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_.load(); });
}

}  // namespace kestrum
