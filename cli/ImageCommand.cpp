// `kestrum-recover image`: copies a sector range of a source into "Image0.img" or
// into 650 MiB pieces, with the free-space check and Ctrl-C as Stop.
#include <chrono>
#include <cstdio>
#include <thread>

#include "Args.h"
#include "Cli.h"
#include "CliPrompter.h"
#include "Progress.h"
#include "RescueCommand.h"
#include "SourceArg.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "imaging/ImagingRun.h"

namespace kestrum::cli {

int imageCommand(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {"--out", "--range", "--map", "--retries", "--save-every"},
                   {"--multifile", "--rescue"}, parsed, error) ||
        parsed.positional.size() != 1 || !parsed.has("--out")) {
        std::fprintf(stderr,
                     "kestrum-recover image: %s\nUsage: kestrum-recover image SOURCE --out "
                     "DIR [--range START:END] [--multifile] [--rescue [--map FILE] [--retries N] "
                     "[--save-every SECONDS]]\n",
                     error.empty() ? "give one SOURCE and --out DIR." : error.c_str());
        return kExitUsage;
    }
    SourceInfo source;
    uint64_t start = 0, end = 0;
    if (!selectSource(parsed.positional[0], source, error) ||
        !parseRange(parsed.value("--range", ":"), source.sizeSectors, start, end, error)) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", error.c_str());
        return kExitUsage;
    }
    session().rangeStart = start;
    session().rangeEnd = end;
    const std::string folder = parsed.value("--out");
    if (parsed.flags.count("--rescue")) return rescueImage(parsed, source, start, end, args);
    for (const char* option : kRescueValued)
        if (parsed.has(option)) {
            std::fprintf(stderr, "kestrum-recover image: %s needs --rescue.\n", option);
            return kExitUsage;
        }
    ImagingRun run(start, end);
    if (const std::string refusal = run.checkStart(folder); !refusal.empty()) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", refusal.c_str());
        return kExitUsage;
    }

    CliPrompter prompts(ExistsPolicy::Skip, BadSectorPolicy::Skip, CliPrompter::terminalAttached());
    setPrompter(&prompts);
    catchInterrupt();
    Session& s = session();
    appendLines(LogKind::Activity,
                startOfRunLines(s.windowTitle.load(), s.versionText.load(), std::time(nullptr)));
    commitSource(WorkMode::DiskImaging, source, start, end);

    const uint64_t zeroedBefore = unreadableSectors();
    ProgressLine progress(start, end);
    run.start(folder, parsed.flags.count("--multifile") > 0);
    bool stopAsked = false;
    while (imagingThread().running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        progress.update(run.currentSector.load(), 0);
        if (interrupted() && !stopAsked) {
            stopAsked = run.stop([] { return true; });
            std::fprintf(stderr, "\nStopping after the current chunk...\n");
        }
    }
    progress.finish();
    run.appendActivityLog();
    setPrompter(nullptr);

    std::fprintf(stderr, "%s\n", run.finalMessage().c_str());
    std::fprintf(stderr, "Sectors copied: %s into %s\n", run.currentSectorText().c_str(),
                 run.lastFileName.load().c_str());
    if (const uint64_t zeroed = unreadableSectors() - zeroedBefore; zeroed > 0)
        std::fprintf(stderr, "%llu unreadable sector(s) were written as zeros.\n",
                     static_cast<unsigned long long>(zeroed));
    switch (run.outcome()) {
        case ImagingOutcome::Completed:
            return kExitDone;
        case ImagingOutcome::Aborted:
            return kExitStopped;
        default:
            return kExitFailed;
    }
}

}  // namespace kestrum::cli
