#include "app/ProgressRate.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "app/Reports.h"

namespace kestrum {
namespace {
constexpr double kSectorBytes = 512;
// Too early, a speed says more about start-up than about the medium.
constexpr double kSettleSeconds = 0.5;
}  // namespace

namespace {
using Clock = ProgressRate::Clock;
// Waits end before others begin (questions are asked one at a time), so one
// start time and one running total are enough.
std::mutex waitLock;
Clock::duration waitedTotal{};
std::optional<Clock::time_point> waitingSince;
}  // namespace

UserWait::UserWait() {
    std::lock_guard lock(waitLock);
    if (!waitingSince) waitingSince = Clock::now();
}

UserWait::~UserWait() {
    std::lock_guard lock(waitLock);
    if (!waitingSince) return;
    waitedTotal += Clock::now() - *waitingSince;
    waitingSince.reset();
}

Clock::duration UserWait::total(Clock::time_point now) {
    std::lock_guard lock(waitLock);
    return waitedTotal +
           (waitingSince && now > *waitingSince ? now - *waitingSince : Clock::duration{});
}

ProgressRate::ProgressRate(uint64_t start, uint64_t end, Clock::time_point began)
    : start_(start), end_(end), began_(began), waitedBefore_(UserWait::total(began)) {}

double ProgressRate::runSeconds(Clock::time_point now) const {
    return std::chrono::duration<double>(now - began_ - (UserWait::total(now) - waitedBefore_))
        .count();
}

int ProgressRate::percent(uint64_t position) const {
    return progressPercent(position, start_, end_);
}

double ProgressRate::bytesPerSecond(uint64_t position, Clock::time_point now) const {
    const double elapsed = runSeconds(now);
    if (elapsed <= 0 || position <= start_) return 0;
    return static_cast<double>(position - start_) * kSectorBytes / elapsed;
}

double ProgressRate::secondsLeft(uint64_t position, Clock::time_point now) const {
    const double elapsed = runSeconds(now);
    if (elapsed < kSettleSeconds || position <= start_) return -1;
    const uint64_t left = end_ > position ? end_ - position : 0;
    return elapsed * static_cast<double>(left) / static_cast<double>(position - start_);
}

std::string ProgressRate::text(uint64_t position, Clock::time_point now) const {
    const double left = secondsLeft(position, now);
    char line[96];
    std::snprintf(line, sizeof line, "%d%%  -  %.1f MB/s  -  %s left", percent(position),
                  bytesPerSecond(position, now) / (1024 * 1024),
                  left < 0 ? "--:--:--" : clockText(left).c_str());
    return line;
}

std::string ProgressRate::terminalText(uint64_t position, size_t files,
                                       Clock::time_point now) const {
    const double left = secondsLeft(position, now);
    char line[160];
    std::snprintf(line, sizeof line, "Sector %s  %3d%%  %zu files  %.1f MB/s  %s left   ",
                  sectorProgressText(position, end_).c_str(), percent(position), files,
                  bytesPerSecond(position, now) / (1024 * 1024),
                  left < 0 ? "--:--:--" : clockText(left).c_str());
    return line;
}

std::string clockText(double seconds) {
    const long long s = static_cast<long long>(seconds + 0.5);
    char text[40];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

}  // namespace kestrum
