// The rescue map: which bytes of the source are copied, still to try or bad, in
// GNU ddrescue's mapfile format, so that its tools read our maps and we continue
// from theirs.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// The block states of the format.
namespace rescue {
inline constexpr char kNonTried = '?';
inline constexpr char kNonTrimmed = '*';
inline constexpr char kNonScraped = '/';
inline constexpr char kBadSector = '-';
inline constexpr char kFinished = '+';
}  // namespace rescue

struct MapBlock {
    uint64_t pos = 0;
    uint64_t size = 0;
    char status = rescue::kNonTried;
    uint64_t end() const { return pos + size; }
};

class RescueMap {
public:
    // A domain of size bytes from 0, all untried.
    explicit RescueMap(uint64_t size = 0);

    // Reads a mapfile. Blocks must be in order and must not overlap; a gap, or a
    // start after 0, counts as untried. A text of comments only is an empty map. Nullopt with the
    // reason on a malformed map.
    static std::optional<RescueMap> parse(const std::string& text, std::string* error = nullptr);
    // The mapfile text. commandLine and started go into the heading comments.
    std::string format(const std::string& commandLine, std::time_t started, std::time_t now) const;

    // Sets [pos, pos + size) to status, growing the domain when it reaches past it.
    void mark(uint64_t pos, uint64_t size, char status);
    // Grows the domain to size bytes with untried blocks (never shrinks it).
    void extendTo(uint64_t size);

    // The block holding pos (clipped to nothing past the domain's end).
    MapBlock blockAt(uint64_t pos) const;
    // The first block at or after from, overlapping [from, to), whose status is
    // status; clipped to [from, to).
    std::optional<MapBlock> findForward(char status, uint64_t from, uint64_t to) const;
    // The last block before to, overlapping [from, to), with status; clipped.
    std::optional<MapBlock> findBackward(char status, uint64_t from, uint64_t to) const;
    // Bytes of [from, to) with status.
    uint64_t bytesWith(char status, uint64_t from, uint64_t to) const;
    // True when some byte of [from, to) has a status other than finished.
    bool anyUnfinished(uint64_t from, uint64_t to) const;

    std::vector<MapBlock> blocks() const;
    uint64_t size() const { return size_; }

    // The "current position" line.
    uint64_t currentPos = 0;
    char currentStatus = '?';  // '?' copying, '*' trimming, '/' scraping, '-' retrying, '+' done
    int currentPass = 1;
    // Where the image this map belongs to starts and how it is laid out, kept in
    // a comment line (other tools ignore it); empty for another tool's map.
    std::string imageOrigin;
    // The disk (or file) the map's positions are of, in another comment line;
    // empty for another tool's map.
    std::string sourceIdentity;

private:
    // Splits the block holding pos so that one starts there.
    void splitAt(uint64_t pos);
    std::map<uint64_t, MapBlock> blocks_;  // by start; contiguous over [0, size_)
    uint64_t size_ = 0;
};

// Reads the map at path. Nullopt when there is none; a map that cannot be read
// or parsed sets *error.
std::optional<RescueMap> loadRescueMap(const std::string& path, std::string* error);

}  // namespace kestrum
