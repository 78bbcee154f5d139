#include "app/WorkerSlot.h"

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrum {

#ifdef _WIN32
namespace {

// winpthreads loses a detached thread now and then under wine (it never runs):
// the worker is a native thread whose handle is closed at once.
DWORD WINAPI runWorker(void* task) {
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(task));
    (*owned)();
    return 0;
}

}  // namespace
#endif

bool WorkerSlot::start(std::function<void()> body) {
    {
        std::lock_guard lock(mutex_);
        if (running_.load()) return false;
        running_.store(true);
    }
#ifdef _WIN32
    auto* task = new std::function<void()>([this, body = std::move(body)] {
        body();
        // The last act: once a waiter sees the slot empty it may destroy it.
        running_.store(false);
    });
    const HANDLE thread = CreateThread(nullptr, 0, runWorker, task, 0, nullptr);
    if (thread == nullptr) {
        delete task;
        running_.store(false);
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "cannot start a worker");
    }
    CloseHandle(thread);
#else
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
#endif
    return true;
}

void WorkerSlot::waitUntilIdle() const {
#ifdef _WIN32
    // Polled: winpthreads' condition variables block now and then under wine.
    while (running_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
#else
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_.load(); });
#endif
}

bool WorkerSlot::waitUntilIdleFor(std::chrono::milliseconds limit) const {
#ifdef _WIN32
    const auto until = std::chrono::steady_clock::now() + limit;
    while (running_.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !running_.load();
#else
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return !running_.load(); });
#endif
}

}  // namespace kestrum
