// Shared pieces of the source-page and image-creation tests: a prompter that
// records what the pages say (the worker's bad-sector question still shows the
// real box), pattern media, a FAT image on a loop device and the failing-sector
// filesystem.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../platform/LoopDevice.h"
#include "TestSupport.h"
#include "disk/SectorReader.h"
#include "ui/QtPrompter.h"

namespace kestrum::test {

class RecordingPrompter : public ui::QtPrompter {
public:
    struct Said {
        std::string text;
        MessageIcon icon;
    };
    std::vector<Said> messages;
    std::vector<std::string> questions;
    std::deque<bool> answers;                    // for the confirmations, in turn; then Cancel
    std::function<void()> whileAsking;           // runs while a confirmation is open
    std::vector<std::string>* events = nullptr;  // messages and process ends, in order

    void showMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back({text, icon});
        if (events) events->push_back("message: " + text);
    }
    bool confirm(const std::string& text) override {
        questions.push_back(text);
        if (whileAsking) whileAsking();
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void clear() {
        messages.clear();
        questions.clear();
        answers.clear();
        whileAsking = {};
    }
    std::string last() const { return messages.empty() ? std::string() : messages.back().text; }
};

// Sector s of a pattern medium: its number, then bytes that are never all zero.
inline std::vector<uint8_t> patternSector(uint64_t s) {
    std::vector<uint8_t> bytes(kSectorSize);
    std::memcpy(bytes.data(), &s, sizeof s);
    for (size_t i = sizeof s; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + s) | 1);
    return bytes;
}

// A sparse file of the given sectors holding pattern sectors at the listed places.
inline void writePatternMedium(const std::string& path, uint64_t sectors,
                               const std::vector<uint64_t>& patterned) {
    test::writeFile(path, std::string());
    std::filesystem::resize_file(path, sectors * kSectorSize);
    const int fd = ::open(path.c_str(), O_WRONLY);
    for (uint64_t s : patterned) {
        const auto bytes = patternSector(s);
        if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(s * kSectorSize)) < 0)
            break;
    }
    ::close(fd);
}

// Sector `index` of a file's bytes.
inline std::vector<uint8_t> sectorOf(const std::vector<uint8_t>& bytes, uint64_t index) {
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(index * kSectorSize);
    return {first, first + kSectorSize};
}

inline std::vector<uint8_t> readSectorOf(const std::string& path, uint64_t index) {
    std::vector<uint8_t> bytes(kSectorSize);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t n =
        ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(index * kSectorSize));
    ::close(fd);
    if (n != static_cast<ssize_t>(kSectorSize)) bytes.clear();
    return bytes;
}

// A small FAT filesystem made with mtools, holding one file, attached to a loop
// device (the kernel here cannot mount FAT; nothing needs to).
class FatLoop {
public:
    explicit FatLoop(const std::string& content) {
        why_ = loopUnavailableReason();
        if (!why_.empty()) return;
        image_ = dir_.file("fat.img");
        std::string out;
        if (runCommand("mkfs.fat -C -n KFAT '" + image_ + "' 4096 >/dev/null 2>&1 && mcopy -i '" +
                           image_ + "' '" + content + "' ::PHOTO.JPG 2>&1",
                       &out) != 0) {
            why_ = "mkfs.fat or mcopy failed: " + trimmed(out);
            return;
        }
        loop_ = std::make_unique<LoopDevice>(image_);
        if (!loop_->ok()) why_ = loop_->why();
    }
    bool ok() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    const std::string& node() const { return loop_->node(); }
    const std::string& image() const { return image_; }

private:
    TempDir dir_;
    std::string image_;
    std::string why_;
    std::unique_ptr<LoopDevice> loop_;
};

// The failing-sector filesystem (built beside the tests as faultfs) serving
// image as mnt/name, its reads of the listed sectors ("20-23") failing with EIO.
class FailingFile {
public:
    FailingFile(const std::string& image, const std::string& bad) : mount_(work_.file("mnt")) {
        const std::string program = std::string(KESTRUM_BIN_DIR) + "/faultfs";
        if (::geteuid() != 0)
            why_ = "mounting the FUSE test filesystem needs root";
        else if (::access(program.c_str(), X_OK) != 0)
            why_ = "faultfs was not built (no libfuse3)";
        else if (::access("/dev/fuse", R_OK | W_OK) != 0)
            why_ = "/dev/fuse is not available";
        if (!why_.empty()) return;
        std::filesystem::create_directory(mount_);
        std::vector<std::string> args = {
            program, "--image=" + image, "--name=disk", "--bad=" + bad, "-f", mount_};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Mounted, or the program gave up; the limit only keeps a broken
        // environment from hanging the test.
        for (int i = 0; i < 2000; ++i) {
            struct statfs fs {};
            if (::statfs(mount_.c_str(), &fs) == 0 && fs.f_type == 0x65735546) return;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        why_ = "faultfs did not mount";
    }
    ~FailingFile() {
        if (pid_ <= 0) return;
        closeDeviceHandle();
        runCommand("fusermount3 -u '" + mount_ + "' 2>/dev/null || fusermount3 -u -z '" + mount_ +
                   "' 2>/dev/null");
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    std::string file() const { return mount_ + "/disk"; }

private:
    TempDir work_;
    std::string mount_;
    pid_t pid_ = -1;
    std::string why_;
};

}  // namespace kestrum::test
