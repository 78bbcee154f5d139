// A source medium or image opened for reading only. Reads are positioned (pread),
// so two workers sharing one handle never disturb each other's position.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrum::platform {

class SourceFile {
public:
    enum class Caching {
        Normal,  // through the page cache, with readahead
        // For reading sectors one at a time after a failed run: through the page
        // cache a bad sector would fail its neighbours too, a page or a readahead
        // window at a time. Reads bypass the cache (O_DIRECT) where the medium
        // takes requests of their size, else go without readahead.
        Unbuffered,
    };

    // Opens path read-only (never creating it). A block device this user may not
    // open is asked of UDisks2, which may show the desktop's authentication
    // dialog. Returns null on failure and, when error is given, stores the reason
    // ("Permission denied", ...); errorNumber gets the system's error, or 0 when
    // the disk service refused and error holds its whole explanation.
    static std::shared_ptr<SourceFile> open(const std::string& path, std::string* error = nullptr,
                                            Caching caching = Caching::Normal,
                                            int* errorNumber = nullptr);
    ~SourceFile();
    // Opens that succeeded so far in this process (tests count a run's opens).
    static uint64_t opensSoFar();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Reads up to size bytes at offset, retrying short reads. Returns the bytes
    // read (fewer at the end of the file), or -1 on an I/O error.
    ssize_t readAt(uint64_t offset, void* buffer, size_t size) const;
    // Size in bytes: a file's length, or a block device's capacity.
    uint64_t size() const;
    bool isBlockDevice() const { return blockDevice_; }
    const std::string& path() const { return path_; }

private:
    SourceFile(int fd, std::string path, bool blockDevice);
    ssize_t readCached(uint64_t offset, void* buffer, size_t size) const;
    ssize_t readDirect(uint64_t offset, void* buffer, size_t size) const;
    int fd_;
    std::string path_;
    bool blockDevice_;
    // O_DIRECT is on; cleared for good when the medium refuses a request.
    mutable std::atomic<bool> direct_{false};
};

}  // namespace kestrum::platform
