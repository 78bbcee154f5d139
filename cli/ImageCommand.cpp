// `kestrum-recover image`: copies a sector range of a source into "Image0.img" or
// into 650 MiB pieces, with the free-space check and Ctrl-C as Stop.
#include <chrono>
#include <cstdio>
#include <thread>

#include "Args.h"
#include "Cli.h"
#include "CliPrompter.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "RescueCommand.h"
#include "SourceArg.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "imaging/ExistingImage.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueRun.h"
#include "platform/Files.h"
#include "platform/Folders.h"

namespace kestrum::cli {

namespace {

// True (and said) when the run would replace pieces already in folder and
// --overwrite was not given.
bool refusesToReplace(const ParsedArgs& parsed, const std::string& folder, uint64_t sectors) {
    const bool multiFile = parsed.flags.count("--multifile") > 0;
    const auto pieces = existingImagePieces(folder, multiFile, sectors);
    if (pieces.empty() || parsed.flags.count("--overwrite")) return false;
    std::fprintf(stderr,
                 "kestrum-recover image: %s already exists%s. Give --overwrite to replace "
                 "it, or choose another --out folder.\n",
                 pieces.front().c_str(),
                 pieces.size() > 1
                     ? (" (with " + std::to_string(pieces.size() - 1) + " more piece(s))").c_str()
                     : "");
    return true;
}

}  // namespace

int imageCommand(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {"--out", "--range", "--map", "--retries", "--save-every"},
                   {"--multifile", "--overwrite", "--rescue"}, parsed, error) ||
        parsed.positional.size() != 1 || !parsed.has("--out")) {
        std::fprintf(stderr,
                     "kestrum-recover image: %s\nUsage: kestrum-recover image SOURCE --out "
                     "DIR [--range START:END] [--multifile] [--overwrite] [--rescue [--map FILE] "
                     "[--retries N] [--save-every SECONDS]]\n",
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
    if (!prepareOutputFolder(folder, error)) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", error.c_str());
        return kExitUsage;
    }
    // A rescue goes on from the image and map already there; without a map it starts
    // afresh and so replaces an image like any other run.
    if (parsed.flags.count("--rescue")) {
        const std::string map =
            parsed.has("--map") ? parsed.value("--map") : defaultMapPath(folder);
        if (!platform::entryExists(map) && refusesToReplace(parsed, folder, end - start))
            return kExitUsage;
        return rescueImage(parsed, source, start, end, args);
    }
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
    if (refusesToReplace(parsed, folder, end - start)) return kExitUsage;
    const bool multiFile = parsed.flags.count("--multifile") > 0;

    CliPrompter prompts(ExistsPolicy::Skip, BadSectorPolicy::Skip, CliPrompter::terminalAttached());
    setPrompter(&prompts);
    catchInterrupt();
    Session& s = session();
    appendLines(LogKind::Activity,
                startOfRunLines(s.windowTitle.load(), s.versionText.load(), std::time(nullptr)));
    commitSource(WorkMode::DiskImaging, source, start, end);

    ProgressLine progress(start, end);
    run.start(folder, multiFile);
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
    return imagingExitCode(run.outcome());
}

}  // namespace kestrum::cli
