#include "Progress.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "CliPrompter.h"
#include "app/ProgressRate.h"
#include "app/Reports.h"

namespace kestrum::cli {
namespace {

volatile std::sig_atomic_t interruptCount = 0;

void onInterrupt(int) {
    if (interruptCount > 0) ::_exit(130);
    interruptCount = interruptCount + 1;
}

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and a closing console window or session end the run as on
// other systems: the first asks the run to stop and save, a second ends at once.
BOOL WINAPI onConsoleEvent(DWORD) {
    onInterrupt(0);
    return TRUE;
}
#endif

}  // namespace

void catchInterrupt() {
#ifdef _WIN32
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A stop asked by the system (shutdown, a closed terminal) saves like Ctrl-C.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
#endif
}

bool interrupted() {
    return interruptCount > 0;
}
void clearInterrupt() {
    interruptCount = 0;
}

ProgressLine::ProgressLine(uint64_t start, uint64_t end)
    : enabled_(::isatty(2) != 0), rate_(start, end) {}

bool ProgressLine::due() {
    // A question on the terminal keeps its line until it is answered.
    if (!enabled_ || CliPrompter::questionOpen()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(200)) return false;
    lastDrawn_ = now;
    return true;
}

void ProgressLine::draw(const std::string& text) {
    std::fprintf(stderr, "\r%s", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::update(uint64_t position, size_t files) {
    if (due()) draw(rate_.terminalText(position, files));
}

void ProgressLine::show(const std::string& text) {
    if (due()) draw(text);
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
