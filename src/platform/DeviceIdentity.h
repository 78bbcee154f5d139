// What tells one disk from another when device numbers and positions move: serial
// number or WWN where the system has one, model and size, and for a loop device
// the file behind it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrum::platform {

struct DeviceIdentity {
    std::string node;         // /dev/sdb, /dev/sdb1, /dev/loop3
    std::string serial;       // empty where the system gives none
    std::string wwn;          // likewise
    std::string model;        // of the whole disk
    std::string backingFile;  // loop devices only
    int partition = 0;        // 0 for a whole disk
    uint64_t sizeBytes = 0;

    // Same device as other, wherever it sits now: the node is not compared.
    bool sameDevice(const DeviceIdentity& other) const;
    // "/dev/loop3, Loop device (/home/me/card.img), 64 MB", for messages.
    std::string description() const;
};

// The identity of the block device at node as records keep it, one line
// ("serial=...; wwn=...; ..."); empty when node is not a block device.
std::string identityRecordText(const std::string& node);

// The identity of the block device at node as the system shows it now; nothing
// when there is no such block device (a detached loop device has no size).
std::optional<DeviceIdentity> identityOf(const std::string& node);

}  // namespace kestrum::platform
