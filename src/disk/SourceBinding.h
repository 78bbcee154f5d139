// The disk or drive chosen on the source page, held to the device the user saw:
// reads go to that device wherever it sits now, never to another disk that has
// moved into its number or node, and every start of work checks it is still there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceIdentity.h"

namespace kestrum {

// The disks as numbered now (Disk0, Disk1, ...), for the page to keep with the
// listing it shows; nothing for a disk whose identity cannot be read.
std::vector<std::optional<platform::DeviceIdentity>> diskIdentities();
// The device behind logical drive letter now.
std::optional<platform::DeviceIdentity> driveIdentity(char letter);

// Why seen, shown as shown ("Disk0"), cannot be read as the device the user saw:
// it is gone or another device is in its place. Empty when it is still there.
std::string changedDeviceProblem(const std::string& shown, const platform::DeviceIdentity& seen);

// Holds sessionPath ("\\.\PhysicalDrive0", "\\.\D:") to seen until the next choice.
void bindSource(const std::string& sessionPath, const platform::DeviceIdentity& seen,
                const std::string& shown);
void unbindSource();
// changedDeviceProblem() for the bound device; empty when none is bound.
std::string boundSourceProblem();

// The device node to open for sessionPath: while it is bound, the device seen
// (followed to a new node when it came back there with the same serial, WWN or
// backing file) or empty when that is gone; any other path as
// platform::resolveDevicePath resolves it.
std::string nodeForReading(const std::string& sessionPath);

}  // namespace kestrum
