#include "Progress.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "CliPrompter.h"
#include "app/Reports.h"

namespace kestrum::cli {
namespace {

volatile std::sig_atomic_t interruptCount = 0;

void onInterrupt(int) {
    if (interruptCount > 0) ::_exit(130);
    interruptCount = interruptCount + 1;
}

std::string clock(double seconds) {
    const long s = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

}  // namespace

void catchInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A stop asked by the system (shutdown, a closed terminal) saves like Ctrl-C.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

bool interrupted() {
    return interruptCount > 0;
}
void clearInterrupt() {
    interruptCount = 0;
}

ProgressLine::ProgressLine(uint64_t start, uint64_t end)
    : enabled_(::isatty(2) != 0),
      start_(start),
      end_(end),
      began_(std::chrono::steady_clock::now()) {}

void ProgressLine::update(uint64_t position, size_t files) {
    // A question on the terminal keeps its line until it is answered.
    if (!enabled_ || CliPrompter::questionOpen()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(200)) return;
    lastDrawn_ = now;
    const double elapsed = std::chrono::duration<double>(now - began_).count();
    const uint64_t done = position > start_ ? position - start_ : 0;
    const double mbps = elapsed > 0 ? done * 512.0 / (1024 * 1024) / elapsed : 0;
    const uint64_t left = end_ > position ? end_ - position : 0;
    const std::string eta =
        done > 0 && elapsed > 0.5 ? clock(elapsed * static_cast<double>(left) / done) : "--:--:--";
    std::fprintf(stderr, "\rSector %s  %3d%%  %zu files  %.1f MB/s  %s left   ",
                 sectorProgressText(position, end_).c_str(),
                 progressPercent(position, start_, end_), files, mbps, eta.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::finish() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
}

SaveProgressLine::SaveProgressLine()
    : enabled_(::isatty(2) != 0), began_(std::chrono::steady_clock::now()) {}

void SaveProgressLine::update(int64_t filesDone, int64_t filesTotal, uint64_t bytes) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(200)) return;
    lastDrawn_ = now;
    const double elapsed = std::chrono::duration<double>(now - began_).count();
    const double mb = bytes / (1024.0 * 1024.0);
    std::fprintf(stderr, "\rSaving file %lld of %lld  %.1f MB  %.1f MB/s   ",
                 static_cast<long long>(std::min(filesDone + 1, filesTotal)),
                 static_cast<long long>(filesTotal), mb, elapsed > 0 ? mb / elapsed : 0.0);
    std::fflush(stderr);
    drawn_ = true;
}

void SaveProgressLine::finish() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
}

}  // namespace kestrum::cli
