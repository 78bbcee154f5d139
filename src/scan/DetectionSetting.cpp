// Reading and writing the remembered detection mode.
#include "scan/DetectionSetting.h"

#include "app/Session.h"
#include "platform/Registry.h"

namespace kestrum {

bool rememberedThoroughMode() {
    const platform::Registry registry;
    return registry.readValue(platform::RegistryRoot::ClassesRoot, kInstallKey,
                              kThoroughValueName) != "0";
}

bool rememberThoroughMode(bool thorough) {
    platform::Registry registry;
    return registry.writeValue(platform::RegistryRoot::ClassesRoot, kInstallKey, kThoroughValueName,
                               thorough ? "1" : "0");
}

}  // namespace kestrum
