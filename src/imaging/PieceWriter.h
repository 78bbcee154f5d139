// The files of an image being written, by plain imaging and by rescue alike:
// each piece opened on first use (a fresh image replaces what is there, a
// continued one keeps it), bytes written at image offsets across piece ends,
// and every failure told with the file it concerns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "disk/ImageLayout.h"

namespace kestrum {
namespace platform {
class PositionedFile;
}

class PieceWriter {
public:
    struct Options {
        bool fresh = true;     // a piece's first open replaces whatever entry is there
        size_t openMost = 8;   // beyond this many open pieces the lowest is closed
        bool durable = false;  // a piece is flushed before it is closed
    };

    PieceWriter(ImageLayout layout, Options options);
    ~PieceWriter();
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    const ImageLayout& layout() const { return layout_; }

    // Asked before a piece is first made anew; false fails the write with why.
    std::function<bool(uint64_t piece, std::string& why)> beforeCreate;

    // Makes every piece its full length, so that what is never written reads as
    // zeros; kept pieces of a longer image are cut to it.
    bool prepare(std::string& why);
    // Writes image bytes [offset, offset + size).
    bool write(uint64_t offset, const void* data, uint64_t size, std::string& why);
    // Flushes what was written to the medium.
    bool syncAll(std::string& why);
    // Closes every open piece (flushed first when durable).
    bool closeAll(std::string& why);
    // The piece written last, empty before the first write.
    const std::string& lastWritten() const { return last_; }

private:
    platform::PositionedFile* file(uint64_t k, std::string& why);
    bool syncOne(uint64_t k, platform::PositionedFile& f, std::string& why);
    bool closeOne(uint64_t k, std::string& why);
    std::string failed(const char* what, uint64_t k, int error) const;

    ImageLayout layout_;
    Options options_;
    std::map<uint64_t, std::unique_ptr<platform::PositionedFile>> open_;
    std::set<uint64_t> dirty_;
    std::set<uint64_t> opened_;  // opened at least once by this writer
    std::string last_;
};

// Removes the pieces from first on that an earlier, longer image left in the
// layout's folder, every spelling of each, up to the first number with none.
// Stops at a piece mayRemove refuses or that cannot be removed: false then.
bool removeLeftoverPieces(const ImageLayout& layout, uint64_t first,
                          const std::function<bool(const std::string&)>& mayRemove);

}  // namespace kestrum
