// The --list output of a scan: each found file as one line on standard output as
// soon as the scan settles it, and a reader that went away (`| head -1`) noticed
// at once, even while no file is being found.
#pragma once

#include <cstddef>

namespace kestrum::cli {

class FoundListing {
public:
    // Writes to a closed pipe fail with EPIPE from now on instead of ending the process.
    // A thorough scan's lines carry a column whole, partial or joined (reassembled
    // from two pieces); with a rescue map a
    // last one, damaged or intact.
    explicit FoundListing(bool partialColumn = false, bool damagedColumn = false);
    // Prints the files found since the last call and flushes them. False once
    // standard output has no reader or a write to it failed.
    bool printNew();
    bool gone() const { return gone_; }
    // Ends the process as a write to a closed pipe does, once its work is put away.
    [[noreturn]] static void endAsBrokenPipe();

private:
    size_t printed_ = 0;
    bool gone_ = false;
    bool partialColumn_ = false;
    bool damagedColumn_ = false;
};

}  // namespace kestrum::cli
