// Real loop devices and mounted ext4 filesystems for the device tests. Each one
// undoes itself (unmount, detach) whichever way the test ends.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <memory>
#include <string>

#include "TestSupport.h"

namespace kestrum::test {

// Why loop devices cannot be used here, or empty when they can.
inline std::string loopUnavailableReason() {
#ifdef _WIN32
    return "Linux-only: needs loop devices";
#else
    if (::geteuid() != 0) return "attaching loop devices needs root";
    if (runCommand("command -v losetup >/dev/null 2>&1") != 0) return "losetup is not installed";
    return {};
#endif
}

inline std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

class LoopDevice {
public:
    // options go to losetup as they are ("-b 4096" for larger logical blocks).
    explicit LoopDevice(const std::string& file, const std::string& options = "") {
#ifdef _WIN32
        why_ = loopUnavailableReason();
        return;
#endif
        std::string out;
        const int rc = runCommand("losetup -f --show " + options + " '" + file + "' 2>&1", &out);
        out = trimmed(out);
        if (rc == 0 && out.rfind("/dev/", 0) == 0)
            node_ = out;
        else
            why_ = "losetup -f --show failed: " + out;
    }
    ~LoopDevice() {
        detach();
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    void detach() {
        if (!node_.empty()) runCommand("losetup -d " + node_ + " 2>/dev/null");
        node_.clear();
    }
    bool ok() const {
        return !node_.empty();
    }
    const std::string& node() const {
        return node_;
    }
    const std::string& why() const {
        return why_;
    }

private:
    std::string node_;
    std::string why_;
};

// Mounts source (a device or, with bind, a folder) at a fresh folder.
class Mount {
public:
    Mount(const std::string& source, const std::string& options) {
#ifdef _WIN32
        why_ = "Linux-only: needs mount";
        return;
#endif
        std::string out;
        if (runCommand("mount " + options + " '" + source + "' '" + dir_.path() + "' 2>&1", &out) ==
            0)
            mounted_ = true;
        else
            why_ = "mount failed: " + trimmed(out);
    }
    ~Mount() {
        // Lazy as a last resort: the folder must never be deleted while mounted.
        if (mounted_ && runCommand("umount '" + dir_.path() + "' 2>/dev/null") != 0)
            runCommand("umount -l '" + dir_.path() + "' 2>/dev/null");
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool ok() const {
        return mounted_;
    }
    const std::string& path() const {
        return dir_.path();
    }
    const std::string& why() const {
        return why_;
    }

private:
    TempDir dir_;
    bool mounted_ = false;
    std::string why_;
};

// An ext4 filesystem labelled label, made in a file of the given size, attached
// to its own loop device and mounted.
class MountedExt4 {
public:
    MountedExt4(const std::string& label, int megabytes) {
        why_ = loopUnavailableReason();
        if (!why_.empty()) return;
        image_ = files_.file("volume.img");
        std::string out;
        if (runCommand("truncate -s " + std::to_string(megabytes) + "M '" + image_ +
                           "' && mkfs.ext4 -q -F -L '" + label + "' '" + image_ + "' 2>&1",
                       &out) != 0) {
            why_ = "mkfs.ext4 failed: " + trimmed(out);
            return;
        }
        loop_ = std::make_unique<LoopDevice>(image_);
        if (!loop_->ok()) {
            why_ = loop_->why();
            return;
        }
        mount_ = std::make_unique<Mount>(loop_->node(), "-t ext4");
        if (!mount_->ok()) why_ = mount_->why();
    }
    bool ok() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    const std::string& node() const { return loop_->node(); }
    const std::string& mountPoint() const { return mount_->path(); }
    const std::string& image() const { return image_; }

private:
    // Destroyed in reverse: unmount, detach, then delete the image.
    TempDir files_;
    std::string image_;
    std::string why_;
    std::unique_ptr<LoopDevice> loop_;
    std::unique_ptr<Mount> mount_;
};

}  // namespace kestrum::test
