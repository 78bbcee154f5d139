// The one process-wide record of what more than one page or worker needs: the
// source and how it is read, the sector range, the bad-sector answer, the folders
// and captions fixed at start-up, the scan's stop flag and handle, the two lists.
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
#include "filetypes/TypeRecord.h"
#include "platform/SourceFile.h"
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
    std::atomic<int32_t> imageSource{0};
    std::atomic<int32_t> imageSplit{0};
    Guarded<std::string> imageFolder;
    // An image file of any name, read whole in place of "Image0.img" (the
    // command-line tool takes such files); empty for the pages' image folders.
    Guarded<std::string> imageFile;
    std::atomic<uint64_t> rangeStart{0};
    std::atomic<uint64_t> rangeEnd{0};  // exclusive; 0 = no range
    std::atomic<BadSectorAnswer> badSectorAnswer{BadSectorAnswer::Retry};

    // The sector reader's open device, kept between reads. Readers copy the
    // shared pointer under the lock, so a switch to another device never closes a
    // handle that another worker is reading from.
    std::mutex deviceHandleLock;
    std::shared_ptr<platform::SourceFile> deviceHandle;
    std::string deviceHandlePath;
    bool deviceHandleOpened = false;  // a failed open is remembered like a good one

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
