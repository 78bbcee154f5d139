// A copy cut short by leaving the program (Exit) is stopped after its chunk and
// recorded in the activity log with how far it got, as a stopped copy is.
#pragma once

namespace kestrum {

class ImagingJob;

// The job whose worker the image-creation page has started; null when it goes.
void setShownImagingJob(ImagingJob* job);

// On a confirmed Exit: when a job is running, asks its worker to stop (bad
// sectors from now on skipped, not asked), waits for it at most a few seconds (a
// stuck read must not hold the exit) and logs the interruption. A rescue saves
// its map as it stops, so that a later run goes on from there.
void recordImagingExit();

}  // namespace kestrum
