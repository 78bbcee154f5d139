// The one process-wide record of what more than one page or worker needs: the
// source, the sector range, the bad-sector answer, the folders and captions fixed
// at start-up, the scan's stop flag and handle, the two lists.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/Guarded.h"
#include "app/Prompter.h"
#include "app/WorkerSlot.h"
#include "disk/SourceSpec.h"
#include "filetypes/TypeRecord.h"
#include "scan/FoundFileList.h"

namespace kestrum {

class ResultsPage;  // engine side of the results page, defined by the scan subsystem

constexpr size_t kDeviceSlotCount = 10;
constexpr size_t kDevicePathBytes = 20;  // including the terminating NUL
constexpr size_t kTextChars = 260;

// Slot n holds "\\.\PhysicalDrive<n>"; only slot 0 is ever rewritten.
using DeviceSlots = std::array<std::string, kDeviceSlotCount>;
DeviceSlots initialDeviceSlots();

struct Session {
    Guarded<DeviceSlots> deviceSlots{initialDeviceSlots()};
    std::atomic<int16_t> selectedSlot{0};
    std::atomic<char> osFamily{'N'};
    // What is read. A device's path is kept in the slots (selectedDevicePath);
    // chooseSource() sets both, sourceSpec() gives the whole value.
    Guarded<SourceSpec> source;
    std::atomic<uint64_t> rangeStart{0};
    std::atomic<uint64_t> rangeEnd{0};  // exclusive; 0 = no range
    std::atomic<BadSectorAnswer> badSectorAnswer{BadSectorAnswer::Retry};

    Guarded<std::string> dataFolder;
    Guarded<std::string> applicationFolder;
    Guarded<std::string> messageCaption{std::string("Kestrum for Digital Media")};
    Guarded<std::string> windowTitle{std::string("Kestrum for Digital Media")};
    Guarded<std::string> versionText{std::string("Version 1.0")};

    std::atomic<uint8_t> scanStopRequested{0};
    // Thorough detection: structure-checked carvers and exact lengths in place of
    // the classic header and end-marker rules. Chosen before a scan starts.
    std::atomic<bool> thoroughMode{false};
    WorkerSlot scanThread;
    std::atomic<ResultsPage*> resultsPage{nullptr};

    TypeList fileTypes;
    FoundFileList foundFiles;

    // The device path every read uses: the slot that selectedSlot names.
    std::string selectedDevicePath() const;

    // The source as chosen, a device with the path selectedDevicePath() gives.
    SourceSpec sourceSpec() const;
    // Makes spec the source: a device's path goes into the slots (disks 0 to 9
    // in their own slot, anything else through slot 0).
    void chooseSource(const SourceSpec& spec);
};

Session& session();

// Fills the start-up values, in order: osFamily, dataFolder, the two captions,
// applicationFolder (registry "FilePath" under "Tav_DigitalMediaNTFS"), versionText.
void loadStartupValues(Session& s);

// The install step: writes "FilePath", "Activity Log" and "Recovery Log" under
// HKEY_CLASSES_ROOT "Tav_DigitalMediaNTFS". False (with the reason) on failure.
bool writeInstallRegistry(const std::string& applicationFolder, const std::string& logFolder,
                          std::string* error = nullptr);

inline constexpr const char* kInstallKey = "Tav_DigitalMediaNTFS";
inline constexpr const char* kDataFolderName = "Kestrum for Digital Media";

}  // namespace kestrum
