// Shared pieces of the sector-reader tests: recognisable sector contents, a
// prompter with scripted answers, a clean session per test, and the two real
// media the tests attach: a FUSE mount with failing sectors and a loop device.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Prompter.h"

namespace kestrum::test {

// Sector `sector` of every test medium: its number, then bytes that are never all
// zero, so a sector read from the wrong place or left zeroed is told apart.
std::vector<uint8_t> patternSector(uint64_t sector);
std::vector<uint8_t> patternSectors(uint64_t first, uint64_t count);
// A file of count pattern sectors, numbered from first.
void writePatternFile(const std::string& path, uint64_t first, uint64_t count);
// Writes pattern sectors into an existing file at the given sector position, so a
// sparse piece only holds the sectors a test reads.
void writePatternAt(const std::string& path, uint64_t position, uint64_t first, uint64_t count);
void truncateTo(const std::string& path, uint64_t bytes);

// True when sector `index` of buffer holds pattern sector `sector` / only zeros.
::testing::AssertionResult holdsSector(const std::vector<uint8_t>& buffer, uint64_t index,
                                       uint64_t sector);
::testing::AssertionResult holdsZeros(const std::vector<uint8_t>& buffer, uint64_t index);

// A buffer of count sectors filled with a marker, standing for the previous batch.
std::vector<uint8_t> staleBuffer(uint64_t count);

// A medium read as a device: its path, the pattern number of its sector 0, and
// its size in sectors.
struct Medium {
    std::string path;
    uint64_t firstSector;
    uint64_t sectors;
};
// Two workers per medium read runs of 7 sectors at once, each worker its own
// runs; returns how many sectors came back wrong.
int concurrentMismatches(const std::vector<Medium>& media);

class ScriptedPrompter : public Prompter {
public:
    std::deque<BadSectorAnswer> answers;
    std::atomic<int> asked{0};
    std::function<void()> onAsk;  // runs before the answer, as if the user acted

    BadSectorAnswer askBadSector() override;
    void showMessage(const std::string&, MessageIcon) override {}
    bool confirm(const std::string&) override { return false; }
    bool openInTextViewer(const std::string&) override { return false; }
    ReplaceAnswer askReplace(const std::string&) override { return ReplaceAnswer::No; }
};

// Every test starts and ends with a session that reads no range, no image, a
// fresh "Retry" answer and no cached device, and with the scripted prompter.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void useImage(const std::string& folder, bool split);

    ScriptedPrompter prompts;
    TempDir dir;
};

// faultfs mounted in the foreground, serving `image` as `name`, with reads that
// touch the sectors of `badList` ("45,47,90-99") failing with EIO; `more` adds
// options such as "--slow=...", "--delay-ms=...", "--heal=...".
class FaultFs {
public:
    FaultFs(const std::string& image, const std::string& name, const std::string& badList,
            const std::vector<std::string>& more = {});
    ~FaultFs();
    FaultFs(const FaultFs&) = delete;
    FaultFs& operator=(const FaultFs&) = delete;

    bool mounted() const { return mounted_; }
    // Why the mount is not there (no /dev/fuse, not root, mount refused...).
    const std::string& reason() const { return reason_; }
    const std::string& mountPoint() const { return mountPoint_; }
    std::string file() const { return mountPoint_ + kSeparator + name_; }

    struct Request {
        uint64_t offset;
        uint64_t size;
        bool failed;
    };
    // The read requests that reached the filesystem since the last call, where
    // they are logged (not by the fault seam of Windows).
    std::vector<Request> takeRequests();
#ifdef _WIN32
    bool logsRequests() const {
        return false;
    }
#else
    bool logsRequests() const {
        return true;
    }
#endif

private:
    TempDir work_;
    std::string mountPoint_;
    std::string name_;
    std::string log_;
    pid_t pid_ = -1;
    bool mounted_ = false;
    std::string reason_;
};

#ifdef _WIN32
// The fault list ("45,47,90-99") of the FaultFs whose file a tool's command line
// names, or empty: the tool started with it gets it as $KESTRUM_READ_FAULTS.
std::string servedReadFaults(const std::string& commandLine);
#endif

// A read-only loop device over `file`, detached again when the object goes
// (after the reader's cached handle on it is closed).
class LoopDevice {
public:
    explicit LoopDevice(const std::string& file);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    bool attached() const { return !node_.empty(); }
    const std::string& reason() const { return reason_; }
    const std::string& node() const { return node_; }

private:
    std::string node_;
    std::string reason_;
};

}  // namespace kestrum::test
