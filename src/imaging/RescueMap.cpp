// Parsing, formatting and editing of ddrescue-format maps.
#include "imaging/RescueMap.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/DurableReplace.h"
#include "platform/Files.h"
#include "platform/LocalTime.h"
#include "platform/RecordFile.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

constexpr const char* kOriginComment = "# Image origin: ";
constexpr const char* kSourceComment = "# Source disk: ";
// Far beyond any map of a real disk; a larger file is not a map.
constexpr uint64_t kMapBytesMost = 256ull << 20;

// The rest of a comment line that starts with heading, without a line end.
bool commentValue(const std::string& line, const char* heading, std::string& value) {
    if (line.rfind(heading, 0) != 0) return false;
    value = line.substr(std::strlen(heading));
    while (!value.empty() && value.back() == '\r') value.pop_back();
    return true;
}

bool isBlockStatus(char c) {
    return std::strchr("?*/-+", c) != nullptr && c != '\0';
}

bool isCurrentStatus(char c) {
    return std::strchr("?*/-FG+", c) != nullptr && c != '\0';
}

// A number as the format writes it: hex with 0x, else decimal (or octal with 0).
bool parseNumber(const std::string& word, uint64_t& out) {
    if (word.empty() || word[0] == '-' || word[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoull(word.c_str(), &end, 0);
    return errno == 0 && end && *end == '\0';
}

std::string timeText(std::time_t t) {
    char text[32] = {};
    std::tm parts{};
    if (t == 0 || !platform::localTime(t, parts)) return {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

}  // namespace

RescueMap::RescueMap(uint64_t size) : size_(size) {
    if (size > 0) blocks_[0] = {0, size, rescue::kNonTried};
}

std::optional<RescueMap> RescueMap::parse(const std::string& text, std::string* error) {
    auto failWith = [&](int line, const std::string& why) -> std::optional<RescueMap> {
        if (error) *error = "line " + std::to_string(line) + ": " + why;
        return std::nullopt;
    };
    RescueMap map;
    std::istringstream in(text);
    bool sawCurrent = false;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        commentValue(line, kOriginComment, map.imageOrigin);
        commentValue(line, kSourceComment, map.sourceIdentity);
        // As in GNU ddrescue, a comment may follow the fields of a line.
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (!sawCurrent) {
            uint64_t pos = 0;
            if (w.size() < 2 || w.size() > 3 || !parseNumber(w[0], pos) || w[1].size() != 1 ||
                !isCurrentStatus(w[1][0]))
                return failWith(lineNo, "expected the current position and status");
            map.currentPos = pos;
            map.currentStatus = w[1][0];
            if (w.size() == 3) map.currentPass = std::atoi(w[2].c_str());
            sawCurrent = true;
            continue;
        }
        uint64_t pos = 0, size = 0;
        if (w.size() != 3 || !parseNumber(w[0], pos) || !parseNumber(w[1], size) ||
            w[2].size() != 1 || !isBlockStatus(w[2][0]))
            return failWith(lineNo, "expected \"position size status\"");
        if (pos < map.size_) return failWith(lineNo, "blocks overlap or are out of order");
        if (size == 0) continue;
        if (pos + size < pos) return failWith(lineNo, "block reaches past 2^64");
        map.mark(pos, size, w[2][0]);
    }
    // Only comments or nothing (GNU ddrescue takes that as a new map): nothing
    // is rescued yet.
    return map;
}

std::string RescueMap::format(const std::string& commandLine, std::time_t started,
                              std::time_t now) const {
    std::string out = "# Mapfile. Created by Kestrum rescue imaging\n";
    out += "# Command line: " + commandLine + "\n";
    out += "# Start time:   " + timeText(started) + "\n";
    out += "# Current time: " + timeText(now) + "\n";
    if (!imageOrigin.empty()) out += kOriginComment + imageOrigin + "\n";
    if (!sourceIdentity.empty()) out += kSourceComment + sourceIdentity + "\n";
    if (currentStatus == rescue::kFinished) out += "# Finished\n";
    out += "# current_pos  current_status  current_pass\n";
    out +=
        textf("0x%08" PRIX64 "     %c               %d\n", currentPos, currentStatus, currentPass);
    out += "#      pos        size  status\n";
    for (const auto& [pos, b] : blocks_)
        out += textf("0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", b.pos, b.size, b.status);
    return out;
}

void RescueMap::extendTo(uint64_t size) {
    if (size > size_) mark(size_, size - size_, rescue::kNonTried);
}

void RescueMap::splitAt(uint64_t pos) {
    if (pos == 0 || pos >= size_) return;
    auto it = blocks_.upper_bound(pos);
    --it;
    MapBlock& b = it->second;
    if (b.pos == pos) return;
    const MapBlock tail{pos, b.end() - pos, b.status};
    b.size = pos - b.pos;
    blocks_.emplace(pos, tail);
}

void RescueMap::mark(uint64_t pos, uint64_t size, char status) {
    if (size == 0) return;
    const uint64_t end = pos + size;
    if (pos > size_) mark(size_, pos - size_, rescue::kNonTried);  // a gap stays untried
    splitAt(pos);
    splitAt(end);
    blocks_.erase(blocks_.lower_bound(pos), blocks_.lower_bound(end));
    auto it = blocks_.emplace(pos, MapBlock{pos, size, status}).first;
    size_ = std::max(size_, end);
    // Joins equal neighbours, so the map stays as short as the format's own.
    if (auto next = std::next(it); next != blocks_.end() && next->second.status == status) {
        it->second.size += next->second.size;
        blocks_.erase(next);
    }
    if (it != blocks_.begin()) {
        auto prev = std::prev(it);
        if (prev->second.status == status) {
            prev->second.size += it->second.size;
            blocks_.erase(it);
        }
    }
}

MapBlock RescueMap::blockAt(uint64_t pos) const {
    if (pos >= size_) return {pos, 0, rescue::kNonTried};
    auto it = blocks_.upper_bound(pos);
    return std::prev(it)->second;
}

std::optional<MapBlock> RescueMap::findForward(char status, uint64_t from, uint64_t to) const {
    if (from >= to || from >= size_) return std::nullopt;
    for (auto it = std::prev(blocks_.upper_bound(from)); it != blocks_.end(); ++it) {
        const MapBlock& b = it->second;
        if (b.pos >= to) break;
        if (b.status != status) continue;
        const uint64_t s = std::max(b.pos, from), e = std::min(b.end(), to);
        return MapBlock{s, e - s, status};
    }
    return std::nullopt;
}

std::optional<MapBlock> RescueMap::findBackward(char status, uint64_t from, uint64_t to) const {
    if (from >= to || from >= size_) return std::nullopt;
    auto it = blocks_.lower_bound(std::min(to, size_));
    while (it != blocks_.begin()) {
        --it;
        const MapBlock& b = it->second;
        if (b.end() <= from) break;
        if (b.status != status) continue;
        const uint64_t s = std::max(b.pos, from), e = std::min(b.end(), to);
        return MapBlock{s, e - s, status};
    }
    return std::nullopt;
}

uint64_t RescueMap::bytesWith(char status, uint64_t from, uint64_t to) const {
    uint64_t total = 0;
    // Beyond the domain nothing is tried yet.
    if (status == rescue::kNonTried && to > size_) total += to - std::max(from, size_);
    if (from >= to || from >= size_) return total;
    for (auto it = std::prev(blocks_.upper_bound(from)); it != blocks_.end(); ++it) {
        const MapBlock& b = it->second;
        if (b.pos >= to) break;
        if (b.status == status) total += std::min(b.end(), to) - std::max(b.pos, from);
    }
    return total;
}

bool RescueMap::anyUnfinished(uint64_t from, uint64_t to) const {
    return bytesWith(rescue::kFinished, from, to) < to - from;
}

std::vector<MapBlock> RescueMap::blocks() const {
    std::vector<MapBlock> out;
    out.reserve(blocks_.size());
    for (const auto& [pos, b] : blocks_) out.push_back(b);
    return out;
}

std::optional<RescueMap> loadRescueMap(const std::string& path, std::string* error) {
    std::string text, why;
    switch (platform::readRecordFile(path, kMapBytesMost, "The map " + path, text, why)) {
        case platform::RecordRead::Missing:
            return std::nullopt;
        case platform::RecordRead::Refused:
            if (error) *error = why;
            return std::nullopt;
        case platform::RecordRead::Read:
            break;
    }
    auto map = RescueMap::parse(text, &why);
    if (!map && error) *error = "The map " + path + " is not a rescue map (" + why + ").";
    return map;
}

}  // namespace kestrum
