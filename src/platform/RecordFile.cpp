#include "platform/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrum::platform {

RecordRead readRecordFile(const std::string& path, uint64_t maxBytes, const std::string& what,
                          std::string& text, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return RecordRead::Missing;
        error = what + " cannot be read: " + std::strerror(errno) + ".";
        return RecordRead::Refused;
    }
    if (S_ISDIR(st.st_mode)) {
        error = what + " is a folder. Give a file name.";
        return RecordRead::Refused;
    }
    if (!S_ISREG(st.st_mode)) {
        error = what + " is not a regular file (a device, a pipe or a socket). Give a file name.";
        return RecordRead::Refused;
    }
    // O_NONBLOCK: a FIFO put there after the check must not hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = what + " cannot be read: " + std::strerror(errno) + ".";
        return RecordRead::Refused;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        static_cast<uint64_t>(opened.st_size) > maxBytes) {
        ::close(fd);
        error = S_ISREG(opened.st_mode)
                    ? what + " is larger than " + std::to_string(maxBytes >> 20) +
                          " MiB: it is not a record this tool or GNU ddrescue wrote."
                    : what + " is not a regular file.";
        return RecordRead::Refused;
    }
    text.clear();
    text.reserve(static_cast<size_t>(opened.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = what + " cannot be read: " + std::strerror(errno) + ".";
            ::close(fd);
            return RecordRead::Refused;
        }
        if (got == 0) break;
        // A file that grows while it is read stops at the bound all the same.
        if (text.size() + got > maxBytes) {
            ::close(fd);
            error = what + " grew past " + std::to_string(maxBytes >> 20) + " MiB while read.";
            return RecordRead::Refused;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return RecordRead::Read;
}

}  // namespace kestrum::platform
