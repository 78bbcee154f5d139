// Live progress on standard error while a worker runs, and Ctrl-C as the Stop
// button: the first interrupt asks the worker to stop at its next boundary.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "app/ProgressRate.h"

namespace kestrum::cli {

// Installs the handler of SIGINT, SIGTERM and SIGHUP; interrupted() turns true at
// the first of them. A second one ends the process at once, for a worker stuck
// in a read.
void catchInterrupt();
bool interrupted();
void clearInterrupt();

class ProgressLine {
public:
    // Draws only when standard error is a terminal.
    explicit ProgressLine(uint64_t start, uint64_t end);
    // Redraws at most five times a second, however often it is called.
    void update(uint64_t position, size_t files);
    // The same for a line the worker words itself.
    void show(const std::string& text);
    // Clears the line so that following output starts clean.
    void finish();

private:
    bool due();
    void draw(const std::string& text);

    bool enabled_;
    ProgressRate rate_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

// Saving's line: files done of the total, bytes written and their rate.
class SaveProgressLine {
public:
    // Draws only when standard error is a terminal.
    SaveProgressLine();
    // Redraws at most five times a second, however often it is called.
    void update(int64_t filesDone, int64_t filesTotal, uint64_t bytes);
    void finish();

private:
    bool enabled_;
    std::chrono::steady_clock::time_point began_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace kestrum::cli
