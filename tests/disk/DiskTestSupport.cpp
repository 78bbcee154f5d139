// Sector patterns, the scripted prompter and the FUSE and loop-device fixtures
// of the sector-reader tests. On Windows the failing medium is the reader's fault
// seam over a link to the image, and there are no loop devices.
#include "DiskTestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/Session.h"
#include "disk/SectorReader.h"
#ifdef _WIN32
#include <map>
#include <mutex>

#include "platform/win32/ReadFaults.h"
#endif

namespace kestrum::test {
namespace {

#ifndef _WIN32
constexpr long kFuseSuperMagic = 0x65735546;

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
#endif

void pwriteAll(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(out) << path << ": " << std::strerror(errno);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.flush()) << path;
}

}  // namespace

std::vector<uint8_t> patternSector(uint64_t sector) {
    std::vector<uint8_t> bytes(kSectorSize);
    std::memcpy(bytes.data(), &sector, sizeof sector);
    for (size_t i = sizeof sector; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(1 + (sector * 31 + i * 7) % 251);
    return bytes;
}

std::vector<uint8_t> patternSectors(uint64_t first, uint64_t count) {
    std::vector<uint8_t> bytes;
    bytes.reserve(count * kSectorSize);
    for (uint64_t s = first; s < first + count; ++s) {
        const auto one = patternSector(s);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

void writePatternFile(const std::string& path, uint64_t first, uint64_t count) {
    writeFile(path, patternSectors(first, count));
}

void writePatternAt(const std::string& path, uint64_t position, uint64_t first, uint64_t count) {
    pwriteAll(path, position * kSectorSize, patternSectors(first, count));
}

void truncateTo(const std::string& path, uint64_t bytes) {
    ASSERT_NO_THROW(resizeFile(path, bytes)) << path;
}

::testing::AssertionResult holdsSector(const std::vector<uint8_t>& buffer, uint64_t index,
                                       uint64_t sector) {
    if ((index + 1) * kSectorSize > buffer.size())
        return ::testing::AssertionFailure() << "sector " << index << " is outside the buffer";
    const auto want = patternSector(sector);
    if (std::memcmp(buffer.data() + index * kSectorSize, want.data(), kSectorSize) == 0)
        return ::testing::AssertionSuccess();
    uint64_t found = 0;
    std::memcpy(&found, buffer.data() + index * kSectorSize, sizeof found);
    return ::testing::AssertionFailure() << "buffer sector " << index << " does not hold sector "
                                         << sector << " (its first bytes say " << found << ")";
}

::testing::AssertionResult holdsZeros(const std::vector<uint8_t>& buffer, uint64_t index) {
    for (size_t i = 0; i < kSectorSize; ++i)
        if (buffer.at(index * kSectorSize + i) != 0)
            return ::testing::AssertionFailure()
                   << "buffer sector " << index << " is not zeros (byte " << i << " is "
                   << int(buffer[index * kSectorSize + i]) << ")";
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> staleBuffer(uint64_t count) {
    return std::vector<uint8_t>(count * kSectorSize, 0xAA);
}

int concurrentMismatches(const std::vector<Medium>& media) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    // Released together, so the readers overlap from the first round (a spun gate:
    // std::latch hangs under wine's threads).
    std::atomic<size_t> arrived{0};
    for (size_t t = 0; t < 2 * media.size(); ++t) {
        workers.emplace_back([&, t] {
            ++arrived;
            while (arrived.load() < 2 * media.size()) std::this_thread::yield();
            const Medium& m = media[t % media.size()];
            const uint64_t lane = t / media.size();
            std::vector<uint8_t> buffer(7 * kSectorSize);
            for (uint64_t round = 0; round < 4000; ++round) {
                const uint64_t start = (round * 14 + lane * 7) % (m.sectors - 7);
                readSectors(start, 7, buffer.data(), m.path);
                for (uint64_t i = 0; i < 7; ++i)
                    if (!holdsSector(buffer, i, m.firstSector + start + i)) ++wrong;
            }
        });
    }
    for (auto& w : workers) w.join();
    return wrong;
}

BadSectorAnswer ScriptedPrompter::askBadSector() {
    ++asked;
    if (onAsk) onAsk();
    if (answers.empty()) {
        ADD_FAILURE() << "bad-sector prompt shown with no answer scripted";
        return BadSectorAnswer::Skip;
    }
    const BadSectorAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

namespace {
void resetSession() {
    Session& s = session();
    s.source.store(SourceSpec{});
    s.rangeStart = 0;
    s.rangeEnd = 0;
    s.osFamily = 'N';
    s.badSectorAnswer = BadSectorAnswer::Retry;
    closeDeviceHandle();
}
}  // namespace

void ReaderTest::SetUp() {
    resetSession();
    setPrompter(&prompts);
}

void ReaderTest::TearDown() {
    setPrompter(nullptr);
    resetSession();
}

void ReaderTest::useImage(const std::string& folder, bool split) {
    session().chooseSource(SourceSpec::imageFolder(folder, split));
}

#ifdef _WIN32
namespace {

std::mutex servedMutex;
std::map<std::string, std::string>& served() {
    static std::map<std::string, std::string> byFile;
    return byFile;
}

// "FIRST-LAST,..." in sectors, inclusive, as byte ranges.
platform::FaultRanges rangesOf(const std::string& list) {
    platform::FaultRanges ranges;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        const size_t dash = item.find('-');
        const uint64_t first = std::stoull(item.substr(0, dash));
        const uint64_t last =
            dash == std::string::npos ? first : std::stoull(item.substr(dash + 1));
        ranges.emplace_back(first * kSectorSize, (last + 1) * kSectorSize);
    }
    return ranges;
}

}  // namespace

std::string servedReadFaults(const std::string& commandLine) {
    std::lock_guard lock(servedMutex);
    for (const auto& [file, list] : served())
        if (commandLine.find(file) != std::string::npos) return list;
    return {};
}

// The reader's fault seam takes the place of the FUSE filesystem: the image is
// served under its new name through a hard link (a copy where links are not to
// be had), and reads of that file fail on the bad sectors, in this process and
// in the tools started with it on their command line.
FaultFs::FaultFs(const std::string& image, const std::string& name, const std::string& badList,
                 const std::vector<std::string>& more)
    : mountPoint_(work_.file("mnt")), name_(name), log_(work_.file("requests.log")) {
    // Slow reads only shape the timing; healing sectors the seam cannot do.
    for (const std::string& option : more)
        if (!option.starts_with("--slow=") && !option.starts_with("--delay-ms=")) {
            reason_ = "Linux-only: needs faultfs for " + option;
            return;
        }
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directory(mountPoint_, ec);
    fs::create_hard_link(image, file(), ec);
    if (ec) fs::copy_file(image, file(), ec);
    if (ec) {
        reason_ = "cannot serve " + image + ": " + ec.message();
        return;
    }
    platform::setReadFaults(file(), rangesOf(badList));
    std::lock_guard lock(servedMutex);
    served()[file()] = badList;
    mounted_ = true;
}

FaultFs::~FaultFs() {
    closeDeviceHandle();
    if (!mounted_) return;
    platform::setReadFaults(file(), {});
    std::lock_guard lock(servedMutex);
    served().erase(file());
}

std::vector<FaultFs::Request> FaultFs::takeRequests() {
    return {};
}

LoopDevice::LoopDevice(const std::string&) : reason_("Linux-only: needs loop devices") {}

LoopDevice::~LoopDevice() = default;
#else
FaultFs::FaultFs(const std::string& image, const std::string& name, const std::string& badList,
                 const std::vector<std::string>& more)
    : mountPoint_(work_.file("mnt")), name_(name), log_(work_.file("requests.log")) {
#ifndef KESTRUM_FAULTFS
    reason_ = "faultfs was not built (libfuse3 missing at configure time)";
    return;
#else
    if (::geteuid() != 0) {
        reason_ = "mounting the FUSE test filesystem needs root";
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        reason_ = "/dev/fuse is not available";
        return;
    }
    ::mkdir(mountPoint_.c_str(), 0755);
    const std::string errors = work_.file("faultfs.err");
    std::vector<std::string> args = {
        KESTRUM_FAULTFS, "--image=" + image, "--name=" + name, "--log=" + log_, "-f", mountPoint_};
    if (!badList.empty()) args.insert(args.begin() + 3, "--bad=" + badList);
    args.insert(args.begin() + 3, more.begin(), more.end());
    pid_ = ::fork();
    if (pid_ == 0) {
        // Should the test process die, the filesystem ends too and unmounts itself.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid_ < 0) {
        reason_ = std::string("fork failed: ") + std::strerror(errno);
        return;
    }
    // Waits for the mount or for the program to give up; the deadline only keeps
    // a broken environment from hanging the test run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        struct statfs fs {};
        if (::statfs(mountPoint_.c_str(), &fs) == 0 && fs.f_type == kFuseSuperMagic) {
            mounted_ = true;
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ostringstream why;
            why << "faultfs did not mount: " << std::ifstream(errors).rdbuf();
            reason_ = why.str();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reason_ = "faultfs did not mount in time";
#endif
}

FaultFs::~FaultFs() {
    if (pid_ <= 0) return;
    closeDeviceHandle();  // the reader's cached handle would keep the mount busy
    if (mounted_) {
        // A loop device still letting go of the file keeps the mount busy a moment.
        bool unmounted = false;
        for (int attempt = 0; attempt < 50 && !unmounted; ++attempt) {
            unmounted =
                runCommand("fusermount3 -u " + shellQuoted(mountPoint_) + " 2>/dev/null") == 0;
            if (!unmounted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!unmounted)
            runCommand("fusermount3 -u -z " + shellQuoted(mountPoint_) + " 2>/dev/null");
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

std::vector<FaultFs::Request> FaultFs::takeRequests() {
    std::vector<Request> requests;
    std::ifstream in(log_);
    uint64_t offset = 0, size = 0;
    std::string outcome;
    while (in >> offset >> size >> outcome) requests.push_back({offset, size, outcome == "EIO"});
    in.close();
    ::truncate(log_.c_str(), 0);
    return requests;
}

LoopDevice::LoopDevice(const std::string& file) {
    if (::geteuid() != 0) {
        reason_ = "attaching a loop device needs root";
        return;
    }
    std::string out;
    if (runCommand("losetup -f --show --read-only " + shellQuoted(file) + " 2>&1", &out) != 0) {
        reason_ = "losetup could not attach a loop device: " + out;
        return;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    node_ = out;
}

LoopDevice::~LoopDevice() {
    if (node_.empty()) return;
    // The reader keeps its device open; an open loop device would only be
    // detached at its last close, and the file below would stay busy.
    closeDeviceHandle();
    runCommand("losetup -d " + shellQuoted(node_));
}

#endif

}  // namespace kestrum::test
