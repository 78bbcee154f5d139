// The found-file list: the scan thread appends while the UI thread reads its
// count; every access takes a short lock, so a page can never see a torn record.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "scan/FileInfo.h"

namespace kestrum {

class FoundFileList {
public:
    void append(const FileInfo& f) {
        std::lock_guard lock(mutex_);
        files_.push_back(f);
        count_.store(files_.size(), std::memory_order_release);
    }
    // Lock-free, for the timers that poll a running scan.
    size_t size() const { return count_.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }
    void clear() {
        std::lock_guard lock(mutex_);
        files_.clear();
        count_.store(0, std::memory_order_release);
    }
    std::optional<FileInfo> at(size_t i) const {
        std::lock_guard lock(mutex_);
        if (i >= files_.size()) return std::nullopt;
        return files_[i];
    }
    bool setChecked(size_t i, bool checked) {
        std::lock_guard lock(mutex_);
        if (i >= files_.size()) return false;
        files_[i].checked = checked ? 1 : 0;
        return true;
    }
    std::vector<FileInfo> snapshot() const {
        std::lock_guard lock(mutex_);
        return {files_.begin(), files_.end()};
    }
    // Visits every record under the lock, in list order; fn may change `checked`.
    void forEach(const std::function<void(FileInfo&)>& fn) {
        std::lock_guard lock(mutex_);
        for (auto& f : files_) fn(f);
    }

private:
    mutable std::mutex mutex_;
    std::deque<FileInfo> files_;
    std::atomic<size_t> count_{0};
};

}  // namespace kestrum
