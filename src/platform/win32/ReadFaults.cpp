#include "platform/win32/ReadFaults.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

namespace kestrum::platform {
namespace {

std::mutex faultsMutex;
std::map<std::string, FaultRanges>& faults() {
    static std::map<std::string, FaultRanges> byPath;
    return byPath;
}

FaultRanges fromEnvironment() {
    FaultRanges ranges;
    const char* text = std::getenv("KESTRUM_READ_FAULTS");
    if (!text) return ranges;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        const size_t dash = item.find('-');
        char* end = nullptr;
        const uint64_t first = std::strtoull(item.c_str(), &end, 10);
        if (end == item.c_str()) continue;
        const uint64_t last =
            dash == std::string::npos ? first : std::strtoull(item.c_str() + dash + 1, nullptr, 10);
        if (last >= first) ranges.emplace_back(first * 512, (last + 1) * 512);
    }
    return ranges;
}

}  // namespace

void setReadFaults(const std::string& path, FaultRanges ranges) {
    std::lock_guard lock(faultsMutex);
    if (ranges.empty())
        faults().erase(path);
    else
        faults()[path] = std::move(ranges);
}

FaultRanges readFaultsFor(const std::string& path) {
    {
        std::lock_guard lock(faultsMutex);
        if (const auto it = faults().find(path); it != faults().end()) return it->second;
    }
    return fromEnvironment();
}

bool touchesFault(const FaultRanges& ranges, uint64_t offset, uint64_t size) {
    for (const auto& [first, end] : ranges)
        if (offset < end && first < offset + size) return true;
    return false;
}

}  // namespace kestrum::platform
