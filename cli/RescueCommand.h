// `kestrum-recover image ... --rescue`: rescue imaging of failing media with a
// ddrescue-format map, resumable after a stop, a kill or a power cut. The image
// command runs it as it runs a plain copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Args.h"
#include "Cli.h"
#include "SourceArg.h"
#include "imaging/ImagingJob.h"
#include "imaging/RescueRun.h"

namespace kestrum::cli {

// The image command's options that only rescue mode takes.
inline const char* const kRescueValued[] = {"--map", "--retries", "--save-every"};

// The tool's exit code for how an imaging run (plain or rescue) ended.
inline int imagingExitCode(ImagingOutcome outcome) {
    return outcome == ImagingOutcome::Completed ? kExitDone
           : outcome == ImagingOutcome::Aborted ? kExitStopped
                                                : kExitFailed;
}

// The rescue job for the chosen range and the rescue options, or null with the
// reason in error. args is the whole command line after "image", for the map's
// heading.
std::unique_ptr<RescueRun> rescueJob(const ParsedArgs& parsed, uint64_t start, uint64_t end,
                                     const std::vector<std::string>& args, std::string& error);

}  // namespace kestrum::cli
