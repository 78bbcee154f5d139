// Refuses a destination that lies on the disk being recovered from: every file
// written there may land on the very sectors still to be read.
#pragma once

#include <string>

namespace kestrum {

// The message to show when destination (a folder) lies on the whole disk that
// holds the source, else empty. sourceDevicePath is the session's form
// ("\\.\PhysicalDrive<n>", "\\.\X:") or a plain path; an image source is a file,
// not a device, so nothing beside it is refused.
std::string destinationOnSourceMessage(const std::string& destination,
                                       const std::string& sourceDevicePath, bool imageSource);

// The same for the session's selected source.
std::string destinationOnSourceMessage(const std::string& destination);

}  // namespace kestrum
