// The classic detection: every sector is classified by the header rules, at most
// one file is open, and it is settled by its extent rule, a new header or its span
// limit.
#pragma once

#include "scan/ScanDriver.h"

namespace kestrum {

// Runs the classic scan of the job on the calling thread and returns 0.
int runClassicScan(const ScanJob& job);

}  // namespace kestrum
