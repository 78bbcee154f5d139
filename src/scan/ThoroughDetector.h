// The thorough detection: at every sector start the carvers whose quick test
// passes are asked in table order; the first that recognises a file measures it by
// its own structure, and the scan goes on after that file's end.
#pragma once

#include <span>

#include "carve/Carver.h"
#include "scan/ScanDriver.h"

namespace kestrum {

// Runs the thorough scan of the job on the calling thread and returns 0. Files of
// every family are measured, and stepped over when their type is not in
// job.types. table is the carver table (tests bring their own).
int runThoroughScan(const ScanJob& job,
                    std::span<const carve::CarverEntry> table = carve::carvers());

}  // namespace kestrum
