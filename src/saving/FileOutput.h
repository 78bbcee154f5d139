// Small helpers for the engines that write files (saving, imaging): a write that
// either stores every byte or says why not, and printf-style text.
#pragma once

#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

namespace kestrum {

// Writes all size bytes, retrying partial writes. On failure returns false with
// the errno of the failed call in *error (ENOSPC for a write that stored nothing).
inline bool writeAll(int fd, const void* data, size_t size, int* error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

[[gnu::format(printf, 1, 2)]] inline std::string textf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

}  // namespace kestrum
