// The detection mode the user chose on the file-type page, remembered between
// runs in the registry store under the application's key.
#pragma once

namespace kestrum {

// The value under HKEY_CLASSES_ROOT\Tav_DigitalMediaNTFS: "1" thorough, "0" classic.
inline constexpr const char* kThoroughValueName = "Thorough Detection";

// True (thorough) unless the user chose classic ("0"): thorough is the default.
bool rememberedThoroughMode();

// False when the store could not be written.
bool rememberThoroughMode(bool thorough);

}  // namespace kestrum
