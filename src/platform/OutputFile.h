// A file the engines write (a saved file, an image piece, a preview copy, a log):
// never written through a link, every byte stored or the reason given.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrum::platform {

class OutputFile {
public:
    // What happens to an entry at path that could not be removed first.
    enum class Leftover {
        Refuse,    // the create fails (EEXIST)
        Truncate,  // a plain file is emptied and written in place; a link still fails
    };

    // Removes whatever entry is at path (a file, a read-only file, a link, never
    // what a link points to), then creates a new file with mode. Null on failure,
    // with the errno in *error.
    static std::unique_ptr<OutputFile> create(const std::string& path, int* error = nullptr,
                                              Leftover leftover = Leftover::Refuse,
                                              mode_t mode = 0644);
    // create() of the entry name inside the open folder folderFd, refusing a
    // leftover that cannot be removed: the folder is never reached again by path.
    static std::unique_ptr<OutputFile> createAt(int folderFd, const std::string& name,
                                                int* error = nullptr, mode_t mode = 0644);
    // Opens path for writing, creating it when missing but never truncating it nor
    // following a link, and waits for an exclusive advisory lock that other
    // processes honour until the file is closed. Null on failure, errno in *error.
    static std::unique_ptr<OutputFile> openLocked(const std::string& path, int* error = nullptr);

    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all size bytes, retrying partial writes. On failure returns false with
    // the errno of the failed call in *error (ENOSPC for a write that stored nothing).
    bool writeAll(const void* data, size_t size, int* error = nullptr);
    // writeAll at the current end of the file.
    bool append(const void* data, size_t size, int* error = nullptr);
    // Length in bytes; 0 when it cannot be told.
    uint64_t size() const;
    // Closes the file; false with the errno when the system reports a failure
    // (a delayed write error shows up here). Closing twice does nothing.
    bool close(int* error = nullptr);

private:
    explicit OutputFile(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace kestrum::platform
