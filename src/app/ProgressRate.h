// What a long run's progress line says beside its bar: the share done, the
// speed so far and the time left at that speed. The pages and the
// command-line tool show the same figures.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrum {

class ProgressRate {
public:
    using Clock = std::chrono::steady_clock;

    // A run over the sectors [start, end), begun at `began`.
    ProgressRate(uint64_t start, uint64_t end, Clock::time_point began = Clock::now());

    int percent(uint64_t position) const;
    // Bytes a second since the run began; 0 before any time has passed.
    double bytesPerSecond(uint64_t position, Clock::time_point now = Clock::now()) const;
    // Seconds left at the speed so far; negative while there is no speed yet.
    double secondsLeft(uint64_t position, Clock::time_point now = Clock::now()) const;
    // "42%  -  12.5 MB/s  -  0:03:10 left"; "--:--:--" while unknown.
    std::string text(uint64_t position, Clock::time_point now = Clock::now()) const;
    // The terminal's line: "Sector 300 / 600   50%  0 files  12.5 MB/s  0:03:10 left   ".
    std::string terminalText(uint64_t position, size_t files,
                             Clock::time_point now = Clock::now()) const;

private:
    double runSeconds(Clock::time_point now) const;

    uint64_t start_, end_;
    Clock::time_point began_;
    Clock::duration waitedBefore_;
};

// Held while a run stands still for the user's answer (a bad-sector question):
// that time is not the medium's, so speeds and times left leave it out.
class UserWait {
public:
    UserWait();
    ~UserWait();
    UserWait(const UserWait&) = delete;
    UserWait& operator=(const UserWait&) = delete;

    // All time spent waiting so far, the wait under way included.
    static ProgressRate::Clock::duration total(
        ProgressRate::Clock::time_point now = ProgressRate::Clock::now());
};

// Seconds as h:mm:ss, hours not wrapped.
std::string clockText(double seconds);

}  // namespace kestrum
