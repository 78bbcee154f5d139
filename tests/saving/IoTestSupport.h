// Shared by the saving, imaging and preview tests: a source image whose every
// sector is recognisable, a prompter that answers from a script, log folders of
// the test's own, and a child process whose files cannot grow past a limit.
#pragma once

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Session.h"
#include "disk/SectorReader.h"

namespace kestrum::test {

// The bytes sector n of a SourceImage holds: its number, then a pattern of it.
inline void fillSector(uint64_t n, uint8_t* out) {
    std::memcpy(out, &n, sizeof n);
    for (uint32_t j = sizeof n; j < kSectorSize; ++j) out[j] = static_cast<uint8_t>(n * 31 + j);
}

inline std::vector<uint8_t> expectedSectors(uint64_t start, uint64_t count) {
    std::vector<uint8_t> bytes(count * kSectorSize);
    for (uint64_t i = 0; i < count; ++i) fillSector(start + i, bytes.data() + i * kSectorSize);
    return bytes;
}

// "Image0.img" in a folder of its own, selected as the session's source. Sparse
// images only hold the sectors listed in `stamped`; the rest reads as zeros.
class SourceImage {
public:
    explicit SourceImage(uint64_t sectors) {
        std::vector<uint64_t> all(sectors);
        for (uint64_t i = 0; i < sectors; ++i) all[i] = i;
        build(sectors, all);
    }
    SourceImage(uint64_t sectors, const std::vector<uint64_t>& stamped) { build(sectors, stamped); }
    ~SourceImage() {
        closeDeviceHandle();
        session().source.store(SourceSpec{});
        session().rangeStart.store(0);
        session().rangeEnd.store(0);
    }
    const std::string& folder() const { return dir_.path(); }
    std::string file() const { return dir_.file(kSingleImageName); }

private:
    void build(uint64_t sectors, const std::vector<uint64_t>& stamped) {
        {
            std::ofstream out(file(), std::ios::binary | std::ios::trunc);
            ASSERT_TRUE(out);
        }
        resizeFile(file(), sectors * kSectorSize);
        std::fstream out(file(), std::ios::binary | std::ios::in | std::ios::out);
        uint8_t sector[kSectorSize];
        for (uint64_t n : stamped) {
            fillSector(n, sector);
            out.seekp(static_cast<std::streamoff>(n * kSectorSize));
            out.write(reinterpret_cast<const char*>(sector), kSectorSize);
        }
        ASSERT_TRUE(out.flush());
        out.close();
        closeDeviceHandle();
        session().chooseSource(SourceSpec::imageFolder(dir_.path() + "/", false));
        session().rangeStart.store(0);
        session().rangeEnd.store(0);
        session().badSectorAnswer.store(BadSectorAnswer::SkipAll);
    }
    TempDir dir_;
};

// The replace question answered from a script (No once the script runs out);
// every question is recorded, and onAsk runs before the answer is given.
class ScriptedPrompter : public SilentPrompter {
public:
    std::deque<ReplaceAnswer> answers;
    std::vector<std::string> asked;
    std::function<void(const std::string&)> onAsk;

    ReplaceAnswer askReplace(const std::string& fileName) override {
        std::lock_guard lock(mutex_);
        asked.push_back(fileName);
        if (onAsk) onAsk(fileName);
        if (answers.empty()) return ReplaceAnswer::No;
        const ReplaceAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    BadSectorAnswer askBadSector() override { return BadSectorAnswer::SkipAll; }

private:
    std::mutex mutex_;
};

class ScopedPrompter {
public:
    explicit ScopedPrompter(Prompter& p) { setPrompter(&p); }
    ~ScopedPrompter() { setPrompter(nullptr); }
};

// A registry of the test's own whose install values send both logs to folder().
class LogFolder {
public:
    LogFolder() {
        std::string error;
        if (!writeInstallRegistry(dir_.path(), dir_.path(), &error))
            ADD_FAILURE() << "cannot write the test registry: " << error;
    }
    const std::string& folder() const { return dir_.path(); }
    std::string text(LogKind kind) const {
        const auto bytes = readFile(logPath(kind));
        return {bytes.begin(), bytes.end()};
    }

private:
    ScopedRegistry registry_;
    TempDir dir_;
};

#ifndef _WIN32
// Runs body in a forked child in which no file may grow beyond limitBytes (a
// write past it fails with EFBIG instead of raising SIGXFSZ), and returns what
// body returned. The child must not need other threads of this process.
inline std::string runWithFileSizeLimit(uint64_t limitBytes,
                                        const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{limitBytes, limitBytes};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        const std::string out = body();
        const ssize_t n = ::write(pipeFds[1], out.data(), out.size());
        ::_exit(n == static_cast<ssize_t>(out.size()) ? 0 : 3);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed with status " + std::to_string(status);
    return out;
}

#endif

inline bool isRoot() {
#ifdef _WIN32
    return false;
#else
    return ::geteuid() == 0;
#endif
}

}  // namespace kestrum::test
