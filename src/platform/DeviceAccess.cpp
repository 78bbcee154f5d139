#include "platform/DeviceAccess.h"

#include "platform/SourceFile.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace kestrum::platform {

std::string accessHint(int err, bool device, bool root, const std::string& group,
                       const std::string& path) {
    switch (err) {
        case EACCES:
        case EPERM:
            if (!device)
                return root ? "The system refuses access to this file even to root."
                            : "Ask the owner of " + path + " for read permission.";
            if (root)
                return "The system refuses this device even to root (a container's device rules "
                       "or a security policy): ask the administrator to allow access to " +
                       path + ", or create the image on a machine that may read the disk.";
            if (!group.empty() && group != "root")
                return "Reading a disk needs read permission on its device node: ask the "
                       "administrator to add you to the group \"" +
                       group + "\" (the group of " + path +
                       "), log in again and start the program once more, or start it as root.";
            return "Reading this disk needs root: start the program as root.";
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
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    const bool device = !known || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
    std::string group;
    if (known)
        if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
    return accessHint(err, device, ::geteuid() == 0, group, path);
}

}  // namespace kestrum::platform
