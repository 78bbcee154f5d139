#include "preview/MediaLength.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "carve/ByteOrder.h"

namespace kestrum {

std::optional<uint64_t> declaredMediaLength(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) return std::nullopt;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
    const long end = std::ftell(file.get());
    if (end < 12) return std::nullopt;
    const uint64_t size = static_cast<uint64_t>(end);
    std::rewind(file.get());
    unsigned char head[12];
    if (std::fread(head, 1, sizeof head, file.get()) != sizeof head) return std::nullopt;

    uint64_t declared = 0;
    if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
        declared = uint64_t{le32(head + 4)} + 8;
    } else if (std::memcmp(head, "MThd", 4) == 0) {
        // The header chunk, then track chunks one after another up to the first
        // that is not one (or the end of the file).
        uint64_t at = 8 + uint64_t{be32(head + 4)};
        unsigned char chunk[8];
        while (at + 8 <= size) {
            if (std::fseek(file.get(), static_cast<long>(at), SEEK_SET) != 0 ||
                std::fread(chunk, 1, sizeof chunk, file.get()) != sizeof chunk ||
                std::memcmp(chunk, "MTrk", 4) != 0)
                break;
            at += 8 + uint64_t{be32(chunk + 4)};
        }
        declared = at;
    } else if (std::memcmp(head, "FORM", 4) == 0 &&
               (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0)) {
        // Always a length, even for a whole file: opened by name after other media,
        // Qt 6.4's GStreamer pipeline never finishes loading an AIFF, but it plays
        // one handed over as a stream.
        declared = uint64_t{be32(head + 4)} + 8;
        return declared < size ? declared : size;
    } else {
        return std::nullopt;
    }
    if (declared == 0 || declared >= size) return std::nullopt;
    return declared;
}

}  // namespace kestrum
