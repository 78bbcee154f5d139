// `kestrum-recover image`: copies a sector range of a source into "Image0.img" or
// into 650 MiB pieces, with the free-space check and Ctrl-C as Stop.
#include <chrono>
#include <cstdio>
#include <memory>

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

namespace kestrum::cli {

namespace {

// True (and said) when the job would replace files already in its folder and
// --overwrite was not given.
bool refusesToReplace(const ParsedArgs& parsed, const ImagingJob& job) {
    if (!job.replacesImage() || parsed.flags.count("--overwrite")) return false;
    const auto pieces = piecesToReplace(job.imageLayout());
    if (pieces.empty()) return false;
    std::fprintf(stderr,
                 "kestrum-recover image: %s already exists%s. Give --overwrite to replace "
                 "it, or choose another --out folder.\n",
                 pieces.front().c_str(),
                 pieces.size() > 1
                     ? (" (with " + std::to_string(pieces.size() - 1) + " more piece(s))").c_str()
                     : "");
    return true;
}

// A plain copy, or with --rescue a rescue; null (said) for options that do not fit.
std::unique_ptr<ImagingJob> chooseJob(const ParsedArgs& parsed, uint64_t start, uint64_t end,
                                      const std::vector<std::string>& args) {
    std::string error;
    if (parsed.flags.count("--rescue")) {
        auto rescue = rescueJob(parsed, start, end, args, error);
        if (!rescue) std::fprintf(stderr, "kestrum-recover image: %s\n", error.c_str());
        return rescue;
    }
    for (const char* option : kRescueValued)
        if (parsed.has(option)) {
            std::fprintf(stderr, "kestrum-recover image: %s needs --rescue.\n", option);
            return nullptr;
        }
    auto copy = std::make_unique<ImagingRun>(start, end);
    copy->setDestination(parsed.value("--out"), parsed.flags.count("--multifile") > 0);
    return copy;
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
    if (!prepareOutputFolder(parsed.value("--out"), error)) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", error.c_str());
        return kExitUsage;
    }
    const std::unique_ptr<ImagingJob> job = chooseJob(parsed, start, end, args);
    if (!job) return kExitUsage;
    if (const std::string refusal = job->checkStart(); !refusal.empty()) {
        std::fprintf(stderr, "kestrum-recover image: %s\n", refusal.c_str());
        return kExitUsage;
    }
    if (refusesToReplace(parsed, *job)) return kExitUsage;

    CliPrompter prompts(ExistsPolicy::Skip, BadSectorPolicy::Skip, CliPrompter::terminalAttached());
    setPrompter(&prompts);
    catchInterrupt();
    Session& s = session();
    appendLines(LogKind::Activity,
                startOfRunLines(s.windowTitle.load(), s.versionText.load(), std::time(nullptr)));
    commitSource(WorkMode::DiskImaging, source, start, end);

    ProgressLine progress(start, end);
    job->start();
    bool stopAsked = false;
    for (bool ended = false; !ended;) {
        ended = imagingThread().waitUntilIdleFor(std::chrono::milliseconds(5));
        progress.show(job->terminalLine());
        if (interrupted() && !stopAsked) {
            stopAsked = job->stop([] { return true; });
            std::fprintf(stderr, "\nStopping after the current read...\n");
        }
    }
    progress.finish();
    job->appendActivityLog();
    setPrompter(nullptr);

    std::fprintf(stderr, "%s\n", job->finalMessage().c_str());
    for (const std::string& line : job->summaryLines()) std::fprintf(stderr, "%s\n", line.c_str());
    return imagingExitCode(job->outcome());
}

}  // namespace kestrum::cli
