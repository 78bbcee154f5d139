// Windows has no disk service that opens a device for a user who may not: a
// disk is read from an elevated prompt (see DeviceAccess), so this is never asked.
#include "platform/UDisks.h"

namespace kestrum::platform {

UDisksOpen openThroughUDisks(const std::string&) {
    return {};  // Unavailable
}

std::string handedDescriptorProblem(int, const std::string& node) {
    return node + " was not handed over by a disk service (there is none on Windows).";
}

std::string udisksRefusalText(const UDisksOpen&, const std::string&) {
    return {};
}

}  // namespace kestrum::platform
