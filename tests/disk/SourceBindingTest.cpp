// The chosen disk held to the device the user saw, on real loop devices attached
// and detached between the choice and the reads: a disk that is gone or replaced
// is refused by name and never read in its place, one that comes back is found.
#include <gtest/gtest.h>

#include <unistd.h>

#include "DiskTestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SourceBinding.h"
#include "platform/Devices.h"

namespace kestrum {
namespace {

// A loop device over file that can be detached in the middle of a test.
class Loop {
public:
    explicit Loop([[maybe_unused]] const std::string& file) {
        std::string out;
#ifndef _WIN32
        if (::geteuid() == 0 &&
            test::runCommand("losetup -f --show --read-only '" + file + "' 2>&1", &out) == 0) {
            while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
            node_ = out;
        }
#endif
    }
    ~Loop() {
        detach();
    }
    void detach() {
        if (node_.empty()) return;
        closeDeviceHandle();  // an open loop device is only detached at its last close
        test::runCommand("losetup -d '" + node_ + "'");
        node_.clear();
    }
    const std::string& node() const {
        return node_;
    }

private:
    std::string node_;
};

int diskNumberOf(const std::string& node) {
    for (const auto& d : platform::physicalDisks())
        if (d.deviceNode == node) return d.number;
    return -1;
}

class SourceBindingTest : public test::ReaderTest {
protected:
    void TearDown() override {
        unbindSource();
        test::ReaderTest::TearDown();
    }
    // Sector 5 as the session's reads see it through the chosen path.
    std::vector<uint8_t> readThrough(const std::string& path) {
        closeDeviceHandle();
        auto buffer = test::staleBuffer(1);
        readSectors(5, 1, buffer.data(), path);
        return buffer;
    }
};

TEST_F(SourceBindingTest, AChosenDiskThatGoesIsRefusedAndNeverReadInItsPlace) {
    KESTRUM_LINUX_ONLY("loop devices");
    const std::string card = dir.file("card.img"), other = dir.file("other.img");
    test::writePatternFile(card, 0, 2048);        // sector s holds pattern s
    test::writePatternFile(other, 100000, 2048);  // sector s holds pattern 100000 + s
    Loop cardLoop(card), otherLoop(other);
    if (cardLoop.node().empty() || otherLoop.node().empty())
        GTEST_SKIP() << "loop devices cannot be attached here (root and losetup needed)";

    const int n = diskNumberOf(cardLoop.node());
    ASSERT_GE(n, 0);
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
    const auto seen = platform::identityOf(cardLoop.node());
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->backingFile, card);
    EXPECT_EQ(seen->sizeBytes, 2048u * 512);
    bindSource(path, *seen, "Disk" + std::to_string(n));
    EXPECT_EQ(boundSourceProblem(), "");
    EXPECT_EQ(nodeForReading(path), cardLoop.node());
    EXPECT_EQ(readThrough(path), test::patternSector(5));

    // The card is pulled: its number now belongs to another disk, if any.
    const std::string cardNode = cardLoop.node();
    cardLoop.detach();
    const std::string gone = boundSourceProblem();
    EXPECT_EQ(gone.rfind("Disk" + std::to_string(n) + " (" + cardNode + ", loop device of " + card +
                             ", 1 MB) is gone",
                         0),
              0u)
        << gone;
    EXPECT_EQ(nodeForReading(path), "");
    EXPECT_EQ(readThrough(path), std::vector<uint8_t>(512, 0));  // zeros, not the other disk
    EXPECT_NE(readThrough(path), test::patternSector(100005));

    // Another medium in the same node is a change, not the card.
    Loop stranger(other);
    if (stranger.node() == cardNode) {
        const std::string changed = boundSourceProblem();
        EXPECT_NE(changed.find("has changed: " + cardNode + " is now " + cardNode +
                               ", loop device of " + other),
                  std::string::npos)
            << changed;
        EXPECT_EQ(readThrough(path), std::vector<uint8_t>(512, 0));
    }
    stranger.detach();

    // The card itself back, wherever it lands: found by its backing file.
    Loop back(card);
    ASSERT_FALSE(back.node().empty());
    EXPECT_EQ(boundSourceProblem(), "");
    EXPECT_EQ(nodeForReading(path), back.node());
    EXPECT_EQ(readThrough(path), test::patternSector(5));

    // Without a binding the path is a position again.
    unbindSource();
    EXPECT_EQ(nodeForReading(path), platform::resolveDevicePath(path));
}

}  // namespace
}  // namespace kestrum
