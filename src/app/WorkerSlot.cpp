#include "app/WorkerSlot.h"

#include <latch>
#include <memory>

namespace kestrum {

bool WorkerSlot::start(std::function<void()> body) {
    if (thread_.load() != nullptr) return false;
    auto stored = std::make_shared<std::latch>(1);
    auto* thread = new std::thread([this, stored, body = std::move(body)] {
        stored->wait();
        body();
        std::thread* self = thread_.exchange(nullptr);
        thread_.notify_all();
        delete self;  // detached already, so deleting the empty handle is safe
    });
    thread->detach();
    thread_.store(thread);
    stored->count_down();
    return true;
}

void WorkerSlot::waitUntilIdle() const {
    for (std::thread* t = thread_.load(); t != nullptr; t = thread_.load()) thread_.wait(t);
}

}  // namespace kestrum
