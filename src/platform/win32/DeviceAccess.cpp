// Why a source cannot be opened, with what to do about it on Windows: disks and
// volumes need an elevated prompt.
#include "platform/DeviceAccess.h"

#include <cerrno>
#include <cstring>

#include "platform/SourceFile.h"
#include "platform/win32/Win32.h"

namespace kestrum::platform {

std::string accessHint(int err, bool device, bool root, const std::string&,
                       const std::string& path) {
    switch (err) {
        case EACCES:
        case EPERM:
            if (!device)
                return root ? "Windows refuses access to this file even to an administrator."
                            : "Ask the owner of " + path + " for read permission.";
            if (root)
                return "Windows refuses this disk even to an administrator (a security "
                       "policy or another program holding it): ask the administrator to allow "
                       "access to " +
                       path + ", or create the image on a machine that may read the disk.";
            return "Reading a disk needs an elevated prompt: open the Command Prompt with "
                   "\"Run as administrator\" and start the program there once more.";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return device ? "The medium is not attached any more: attach it and choose it again."
                          : "The file is gone: choose the folder again.";
        case EBUSY:
            return "Another program holds it for itself: close that program and try again.";
        default:
            return {};
    }
}

std::string accessHintFor(int err, const std::string& path) {
    return accessHint(err, win32::isDevicePath(path), win32::isElevated(), {}, path);
}

}  // namespace kestrum::platform
