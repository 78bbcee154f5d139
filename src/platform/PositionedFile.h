// A file written at chosen offsets and made durable on request: the pieces of a
// rescued image, which a resumed run continues in place instead of starting over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrum::platform {

class PositionedFile {
public:
    // Opens path for writing without following a link. fresh: whatever entry is
    // there is removed first and a new empty file made; otherwise an existing file
    // is kept as it is (created when missing). Null on failure, errno in *error.
    static std::unique_ptr<PositionedFile> open(const std::string& path, bool fresh,
                                                int* error = nullptr);
    ~PositionedFile();
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;

    // Writes all size bytes at offset; false with the errno on failure (ENOSPC for
    // a write that stored nothing).
    bool writeAt(uint64_t offset, const void* data, size_t size, int* error = nullptr);
    // Grows the file to at least bytes; the new part reads as zeros. Never shrinks.
    bool extendTo(uint64_t bytes, int* error = nullptr);
    // Shrinks or grows the file to exactly bytes.
    bool resize(uint64_t bytes, int* error = nullptr);
    // Flushes the written data to the medium (a later power cut keeps it).
    bool sync(int* error = nullptr);
    uint64_t size() const;
    bool close(int* error = nullptr);

private:
    explicit PositionedFile(int fd) : fd_(fd) {}
    int fd_;
};

// Bytes the file at path takes on its volume (a sparse file takes less than its
// length); 0 when there is none.
uint64_t allocatedBytes(const std::string& path);

}  // namespace kestrum::platform
