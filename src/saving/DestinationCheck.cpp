#include "saving/DestinationCheck.h"

#include "app/Session.h"
#include "disk/SourceBinding.h"
#include "platform/Devices.h"
#include "platform/Files.h"

namespace kestrum {
namespace {
constexpr const char* kOnSourceMessage =
    "The destination is on the device being recovered. Writing there would overwrite the very "
    "data being recovered. Please choose a folder on another disk.";

}  // namespace

std::string destinationOnSourceMessage(const std::string& destination,
                                       const std::string& sourceDevicePath, bool imageSource) {
    if (imageSource) return {};
    const std::string node = nodeForReading(sourceDevicePath);
    if (node.empty()) return {};
    // Both sides as whole disks: a partition, or a mapped device on one disk, is
    // the disk it lies on. A plain file given as the source has no disk.
    const std::string sourceDisk = platform::blockDeviceOf(node);
    if (sourceDisk.empty() || !platform::isBlockDevice(node)) return {};
    if (platform::blockDeviceOf(destination) != sourceDisk) return {};
    return kOnSourceMessage;
}

std::string destinationOnSourceMessage(const std::string& destination) {
    const SourceSpec source = session().sourceSpec();
    return destinationOnSourceMessage(destination, source.devicePath, source.isImage());
}

}  // namespace kestrum
