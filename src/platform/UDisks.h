// Reading a block device the process may not open itself: the UDisks2 daemon
// opens it read-only and hands over the descriptor, once polkit allows it (the
// desktop's authentication dialog may appear while the call waits).
#pragma once

#include <string>

namespace kestrum::platform {

struct UDisksOpen {
    enum class Outcome {
        Opened,       // fd is a read-only descriptor of the device, owned by the caller
        Unavailable,  // no system bus, no UDisks2, or it does not know the device
        NoAgent,      // permission could be given, but nobody is there to ask the user
        Refused,      // polkit said no
        Dismissed,    // the user closed the authentication dialog
        NoAnswer,     // the service did not answer in time (stopped or hung)
        Failed,       // UDisks2 could not open it (the reason is in detail)
    };
    Outcome outcome = Outcome::Unavailable;
    int fd = -1;
    std::string detail;  // the daemon's message, for Failed and the log
};

// Asks UDisks2 for a read-only descriptor of the block device at node
// ("/dev/sdb"). Blocks while the user answers the authentication dialog.
UDisksOpen openThroughUDisks(const std::string& node);

// Why a descriptor handed over for node must not be read: not a block device,
// another device than node, or open for writing. Empty when it is fit.
std::string handedDescriptorProblem(int fd, const std::string& node);

// What the user reads when UDisks2 did not hand over the device at node: what
// happened and what to do about it. Empty for Opened and Unavailable.
std::string udisksRefusalText(const UDisksOpen& result, const std::string& node);

}  // namespace kestrum::platform
