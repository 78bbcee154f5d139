#include "disk/SourceBinding.h"

#include <mutex>

#include "platform/Devices.h"

namespace kestrum {
namespace {

using platform::DeviceIdentity;

struct Binding {
    std::string sessionPath;
    std::string shown;
    DeviceIdentity seen;
};

std::mutex bindingLock;
std::optional<Binding> binding;

// Where seen is now: its node while that still holds it, else a whole disk that
// carries its serial, WWN or backing file (model and size alone fit many cards).
std::optional<std::string> locate(const DeviceIdentity& seen) {
    if (const auto now = platform::identityOf(seen.node); now && now->sameDevice(seen))
        return seen.node;
    if (seen.partition != 0 ||
        (seen.serial.empty() && seen.wwn.empty() && seen.backingFile.empty()))
        return std::nullopt;
    for (const platform::PhysicalDisk& disk : platform::physicalDisks())
        if (const auto now = platform::identityOf(disk.deviceNode); now && now->sameDevice(seen))
            return disk.deviceNode;
    return std::nullopt;
}

}  // namespace

std::vector<std::optional<DeviceIdentity>> diskIdentities() {
    std::vector<std::optional<DeviceIdentity>> ids;
    for (const platform::PhysicalDisk& disk : platform::physicalDisks())
        ids.push_back(platform::identityOf(disk.deviceNode));
    return ids;
}

std::optional<DeviceIdentity> driveIdentity(char letter) {
    for (const platform::LogicalDrive& drive : platform::logicalDrives())
        if (drive.letter == letter) return platform::identityOf(drive.deviceNode);
    return std::nullopt;
}

std::string changedDeviceProblem(const std::string& shown, const DeviceIdentity& seen) {
    if (locate(seen)) return {};
    const std::string was = shown + " (" + seen.description() + ")";
    if (const auto now = platform::identityOf(seen.node))
        return was + " has changed: " + seen.node + " is now " + now->description() +
               ". Nothing was read from it. Choose the source again on the source page.";
    return was +
           " is gone: it was removed or detached. Nothing was read from another disk. "
           "Attach it again and choose it on the source page.";
}

void bindSource(const std::string& sessionPath, const DeviceIdentity& seen,
                const std::string& shown) {
    std::lock_guard lock(bindingLock);
    binding = Binding{sessionPath, shown, seen};
}

void unbindSource() {
    std::lock_guard lock(bindingLock);
    binding.reset();
}

std::string boundSourceProblem() {
    std::optional<Binding> held;
    {
        std::lock_guard lock(bindingLock);
        held = binding;
    }
    return held ? changedDeviceProblem(held->shown, held->seen) : std::string();
}

std::string nodeForReading(const std::string& sessionPath) {
    std::optional<Binding> held;
    {
        std::lock_guard lock(bindingLock);
        held = binding;
    }
    if (!held || held->sessionPath != sessionPath) return platform::resolveDevicePath(sessionPath);
    return locate(held->seen).value_or(std::string());
}

}  // namespace kestrum
