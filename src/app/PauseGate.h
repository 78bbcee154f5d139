// Lets a page hold a worker still while it asks the user something. The worker
// passes the gate between units of work, never inside a read or a file call, so a
// paused worker holds no half-done operation.
#pragma once

#include <condition_variable>
#include <mutex>

namespace kestrum {

class PauseGate {
public:
    void pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    void resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        cv_.notify_all();
    }
    bool paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }
    // Called by the worker: returns at once unless paused, else waits for resume().
    void pass() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return !paused_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool paused_ = false;
};

}  // namespace kestrum
