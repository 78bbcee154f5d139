// A value shared between threads that is too large for std::atomic: every access
// copies it under a lock, so readers never see a half-written text.
#pragma once

#include <mutex>
#include <utility>

namespace kestrum {

template <typename T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void store(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }
    // Runs fn on the value under the lock, for read-modify-write steps.
    template <typename Fn>
    decltype(auto) with(Fn&& fn) {
        std::lock_guard lock(mutex_);
        return std::forward<Fn>(fn)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace kestrum
