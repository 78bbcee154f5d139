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
    bool sameDevice(const DeviceIdentity& other) const {
        return serial == other.serial && wwn == other.wwn && model == other.model &&
               backingFile == other.backingFile && partition == other.partition &&
               sizeBytes == other.sizeBytes;
    }
    // "/dev/loop3, Loop device (/home/me/card.img), 64 MB", for messages.
    std::string description() const {
        std::string text = node;
        if (!backingFile.empty())
            text += ", loop device of " + backingFile;
        else if (!model.empty())
            text += ", " + model;
        if (!serial.empty()) text += ", serial " + serial;
        return text + ", " + std::to_string(sizeBytes / 1048576) + " MB";
    }
};

// The identity of the block device at node as the system shows it now; nothing
// when there is no such block device (a detached loop device has no size). Each
// system has its own; the rest of this header is shared by both.
std::optional<DeviceIdentity> identityOf(const std::string& node);

// The identity of the block device at node as records keep it, one line
// ("serial=...; wwn=...; ..."); empty when node is not a block device.
inline std::string identityRecordText(const std::string& node) {
    const auto id = identityOf(node);
    if (!id) return {};
    return "serial=" + id->serial + "; wwn=" + id->wwn + "; model=" + id->model +
           "; backing file=" + id->backingFile + "; partition=" + std::to_string(id->partition) +
           "; bytes=" + std::to_string(id->sizeBytes);
}

}  // namespace kestrum::platform
