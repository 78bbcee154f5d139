// `kestrum-recover image ... --rescue`: rescue imaging of failing media with a
// ddrescue-format map, resumable after a stop, a kill or a power cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Args.h"
#include "SourceArg.h"

namespace kestrum::cli {

// The image command's options that only rescue mode takes.
inline const char* const kRescueValued[] = {"--map", "--retries", "--save-every"};

// Runs the rescue for the already selected source and range. args is the whole
// command line after "image", for the map's heading.
int rescueImage(const ParsedArgs& parsed, const SourceInfo& source, uint64_t start, uint64_t end,
                const std::vector<std::string>& args);

}  // namespace kestrum::cli
