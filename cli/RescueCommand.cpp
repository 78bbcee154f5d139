#include "RescueCommand.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "Cli.h"
#include "Progress.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "imaging/RescueRun.h"

namespace kestrum::cli {
namespace {

bool wholeNumber(const std::string& text, long long lowest, long long highest, long long& out) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size() && out >= lowest && out <= highest;
}

}  // namespace

int rescueImage(const ParsedArgs& parsed, const SourceInfo& source, uint64_t start, uint64_t end,
                const std::vector<std::string>& args) {
    RescueSettings settings;
    settings.startSector = start;
    settings.endSector = end;
    settings.folder = parsed.value("--out");
    settings.multiFile = parsed.flags.count("--multifile") > 0;
    settings.mapPath = parsed.value("--map");
    long long retries = 0, saveEvery = 30;
    if (!wholeNumber(parsed.value("--retries", "0"), 0, 1000, retries) ||
        !wholeNumber(parsed.value("--save-every", "30"), 1, 30, saveEvery)) {
        std::fprintf(stderr,
                     "kestrum-recover image: --retries takes 0 to 1000 passes and --save-every "
                     "1 to 30 seconds.\n");
        return kExitUsage;
    }
    settings.retryPasses = static_cast<int>(retries);
    settings.saveEvery = std::chrono::seconds(saveEvery);
    settings.commandLine = "kestrum-recover image";
    for (const std::string& a : args) settings.commandLine += " " + a;

    session().rangeStart = start;
    session().rangeEnd = end;
    RescueRun run(settings);
    if (const std::string refusal = run.checkStart(); !refusal.empty()) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", refusal.c_str());
        return kExitUsage;
    }

    catchInterrupt();
    Session& s = session();
    appendLines(LogKind::Activity,
                startOfRunLines(s.windowTitle.load(), s.versionText.load(), std::time(nullptr)));
    commitSource(WorkMode::DiskImaging, source, start, end);

    const bool terminal = ::isatty(2) != 0;
    auto lastDrawn = std::chrono::steady_clock::now();
    run.start();
    bool stopAsked = false;
    while (imagingThread().running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (terminal &&
            std::chrono::steady_clock::now() - lastDrawn > std::chrono::milliseconds(200)) {
            lastDrawn = std::chrono::steady_clock::now();
            std::fprintf(stderr, "\r\033[K%s  %3d%%  %s", run.phaseText().c_str(),
                         run.progressPercent(), run.figuresText().c_str());
            std::fflush(stderr);
        }
        if (interrupted() && !stopAsked) {
            stopAsked = run.stop([] { return true; });
            std::fprintf(stderr, "\nStopping after the current read...\n");
        }
    }
    if (terminal) std::fprintf(stderr, "\r\033[K");
    run.appendActivityLog();

    std::fprintf(stderr, "%s\n", run.finalMessage().c_str());
    std::fprintf(stderr, "%s; map %s\n", run.figuresText().c_str(), run.mapPath().c_str());
    if (const std::string ddrescue = run.ddrescueContinuation(); !ddrescue.empty())
        std::fprintf(stderr, "%s\n", ddrescue.c_str());
    return imagingExitCode(run.outcome());
}

}  // namespace kestrum::cli
