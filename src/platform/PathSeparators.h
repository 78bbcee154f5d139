// The characters that separate folders in a path on this system.
#pragma once

namespace kestrum::platform {

#ifdef _WIN32
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

}  // namespace kestrum::platform
