// Device reads on healthy media: chunking, the cached handle, and readers on
// several threads. Plain files stand in for devices here; the loop-device test
// reads a real block device.
#include <gtest/gtest.h>

#include <cstdio>

#include "DiskTestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"

namespace kestrum {
namespace {

using test::concurrentMismatches;
using test::holdsSector;
using test::holdsZeros;
using test::staleBuffer;

class ReaderDevice : public test::ReaderTest {
protected:
    int32_t read(const std::string& device, uint64_t start, std::vector<uint8_t>& buffer) {
        return readSectors(start, static_cast<uint32_t>(buffer.size() / kSectorSize), buffer.data(),
                           device);
    }
};

TEST_F(ReaderDevice, ReadsOfEverySizeMatchTheMedium) {
    const std::string device = dir.file("disk");
    test::writePatternFile(device, 0, 1200);
    for (uint32_t count : {1u, 39u, 40u, 41u, 80u, 119u, 1000u}) {
        SCOPED_TRACE(count);
        auto buffer = staleBuffer(count);
        EXPECT_EQ(read(device, 3, buffer), 1);
        for (uint64_t i = 0; i < count; ++i) ASSERT_TRUE(holdsSector(buffer, i, 3 + i));
    }
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderDevice, SectorsBeyondTheEndAreZeros) {
    const std::string device = dir.file("disk");
    test::writePatternFile(device, 0, 50);
    auto buffer = staleBuffer(45);  // one chunk reaching past the end, and a rest beyond it
    read(device, 10, buffer);
    for (uint64_t i = 0; i < 40; ++i) EXPECT_TRUE(holdsSector(buffer, i, 10 + i));
    for (uint64_t i = 40; i < 45; ++i) EXPECT_TRUE(holdsZeros(buffer, i));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderDevice, HandleStaysOpenUntilAnotherPathIsRead) {
    KESTRUM_LINUX_ONLY("removing a file that is open (POSIX unlink)");
#ifndef _WIN32
    const std::string a = dir.file("a"), b = dir.file("b");
    test::writePatternFile(a, 0, 8);
    test::writePatternFile(b, 100, 8);
    auto buffer = staleBuffer(1);
    ASSERT_EQ(read(a, 2, buffer), 1);
    // The open handle still reaches the removed file's data.
    std::remove(a.c_str());
    buffer = staleBuffer(1);
    EXPECT_EQ(read(a, 3, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 3));

    EXPECT_EQ(read(b, 0, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 100));
    buffer = staleBuffer(1);
    EXPECT_EQ(read(a, 3, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_EQ(prompts.asked, 0);
#endif
}

TEST_F(ReaderDevice, FailedOpenIsRememberedUntilAnotherPathIsRead) {
    const std::string a = dir.file("late"), b = dir.file("b");
    test::writePatternFile(b, 100, 8);
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(a, 0, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));

    test::writePatternFile(a, 0, 8);
    buffer = staleBuffer(2);
    EXPECT_EQ(read(a, 0, buffer), 0) << "the failed open is not tried again";
    EXPECT_TRUE(holdsZeros(buffer, 1));

    EXPECT_EQ(read(b, 0, buffer), 1);
    EXPECT_EQ(read(a, 0, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 1, 1));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderDevice, OnlyTheNtFamilyReadsDevices) {
    const std::string device = dir.file("disk");
    test::writePatternFile(device, 0, 8);
    session().osFamily = 'F';
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(device, 0, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_TRUE(holdsZeros(buffer, 1));
}

TEST_F(ReaderDevice, ImageSourceTakesPrecedenceOverTheDevicePath) {
    test::writePatternFile(dir.file("disk"), 0, 8);
    test::writePatternFile(dir.file("Image0.img"), 500, 8);
    useImage(dir.path(), false);
    auto buffer = staleBuffer(1);
    EXPECT_EQ(read(dir.file("disk"), 2, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 502));
}

TEST_F(ReaderDevice, ConcurrentReadersOfOneDeviceGetTheirOwnSectors) {
    const std::string device = dir.file("disk");
    test::writePatternFile(device, 0, 512);
    EXPECT_EQ(concurrentMismatches({{device, 0, 512}}), 0);
}

TEST_F(ReaderDevice, ReadersSwitchingDevicesNeverReadThroughAClosedHandle) {
    // Every read replaces the cached handle the other worker may be reading with.
    const std::string a = dir.file("a"), b = dir.file("b");
    test::writePatternFile(a, 0, 256);
    test::writePatternFile(b, 10000, 256);
    EXPECT_EQ(concurrentMismatches({{a, 0, 256}, {b, 10000, 256}}), 0);
}

}  // namespace
}  // namespace kestrum
