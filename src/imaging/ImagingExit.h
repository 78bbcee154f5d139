// A copy cut short by leaving the program (Exit) is stopped after its chunk and
// recorded in the activity log with how far it got, as a stopped copy is.
#pragma once

#include <string>
#include <vector>

namespace kestrum {

class ImagingRun;
class RescueRun;

// The run whose worker the image-creation page has started; null when it goes.
void setShownImagingRun(ImagingRun* run);
// Likewise for a rescue the page has started.
void setShownRescueRun(RescueRun* run);

// The activity-log block of a copy left with Exit.
std::vector<std::string> imagingExitLines(const ImagingRun& run);
// The same for a rescue: its figures, then the interruption.
std::vector<std::string> rescueExitLines(const RescueRun& run);

// On a confirmed Exit: when a copy is running, asks its worker to stop (bad
// sectors from now on skipped, not asked), waits for it at most a few seconds (a
// stuck read must not hold the exit) and logs the interruption. A rescue is
// stopped the same way, so that its map is saved before the process ends.
void recordImagingExit();

}  // namespace kestrum
