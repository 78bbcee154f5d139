#include "app/Session.h"

#include "platform/Devices.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace kestrum {

DeviceSlots initialDeviceSlots() {
    DeviceSlots slots;
    for (size_t n = 0; n < slots.size(); ++n) slots[n] = "\\\\.\\PhysicalDrive" + std::to_string(n);
    return slots;
}

std::string Session::selectedDevicePath() const {
    const int16_t slot = selectedSlot.load();
    if (slot < 0 || static_cast<size_t>(slot) >= kDeviceSlotCount) return {};
    return deviceSlots.load()[static_cast<size_t>(slot)];
}

SourceSpec Session::sourceSpec() const {
    SourceSpec spec = source.load();
    if (spec.kind == SourceSpec::Kind::Device) spec.devicePath = selectedDevicePath();
    return spec;
}

void Session::chooseSource(const SourceSpec& spec) {
    source.store(spec);
    if (spec.kind != SourceSpec::Kind::Device) return;
    const DeviceSlots initial = initialDeviceSlots();
    for (size_t n = 0; n < kDeviceSlotCount; ++n)
        if (spec.devicePath == initial[n]) {
            deviceSlots.with([&](DeviceSlots& slots) { slots[0] = initial[0]; });
            selectedSlot.store(static_cast<int16_t>(n));
            return;
        }
    deviceSlots.with([&](DeviceSlots& slots) { slots[0] = spec.devicePath; });
    selectedSlot.store(0);
}

Session& session() {
    static Session instance;
    return instance;
}

void loadStartupValues(Session& s) {
    // Odd platform identifiers were the 9x family; this platform is always NT.
    s.osFamily.store(platform::systemFamily());
    s.dataFolder.store(platform::joinPath(platform::windowsFolder(), kDataFolderName));
    s.messageCaption.store("Kestrum for Digital Media");
    s.windowTitle.store("Kestrum for Digital Media");
    platform::Registry registry;
    s.applicationFolder.store(
        registry.readValue(platform::RegistryRoot::ClassesRoot, kInstallKey, "FilePath")
            .value_or(std::string()));
    s.versionText.store("Version 1.0");
}

bool writeInstallRegistry(const std::string& applicationFolder, const std::string& logFolder,
                          std::string* error) {
    platform::Registry registry;
    const auto root = platform::RegistryRoot::ClassesRoot;
    const bool ok = registry.writeValue(root, kInstallKey, "FilePath", applicationFolder) &&
                    registry.writeValue(root, kInstallKey, "Activity Log", logFolder) &&
                    registry.writeValue(root, kInstallKey, "Recovery Log", logFolder);
    if (!ok && error) *error = registry.lastError();
    return ok;
}

}  // namespace kestrum
