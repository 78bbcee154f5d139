// Why a source cannot be opened for reading, told so that a user can act on it:
// the system's reason and what would give them access.
#pragma once

#include <string>

namespace kestrum::platform {

// Empty when path opens for reading; else the reason ("Permission denied") and,
// after a blank, what to do about it.
std::string openProblem(const std::string& path);

// What to do about a refused open with error err, for a device (else a file),
// asked by root or not; group owns the device node ("disk").
std::string accessHint(int err, bool device, bool root, const std::string& group,
                       const std::string& path);

// accessHint() for an open of path that failed with err, by this process: whether
// path is a device and which group owns it are looked up.
std::string accessHintFor(int err, const std::string& path);

}  // namespace kestrum::platform
