// `kestrum-recover image ... --rescue`: rescue imaging of failing media with a
// ddrescue-format map, resumable after a stop, a kill or a power cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Args.h"
#include "Cli.h"
#include "SourceArg.h"
#include "imaging/ImagingRun.h"

namespace kestrum::cli {

// The image command's options that only rescue mode takes.
inline const char* const kRescueValued[] = {"--map", "--retries", "--save-every"};

// The tool's exit code for how an imaging run (plain or rescue) ended.
inline int imagingExitCode(ImagingOutcome outcome) {
    return outcome == ImagingOutcome::Completed ? kExitDone
           : outcome == ImagingOutcome::Aborted ? kExitStopped
                                                : kExitFailed;
}

// Runs the rescue for the already selected source and range. args is the whole
// command line after "image", for the map's heading.
int rescueImage(const ParsedArgs& parsed, const SourceInfo& source, uint64_t start, uint64_t end,
                const std::vector<std::string>& args);

}  // namespace kestrum::cli
