// Device reads from a real block device: a loop device over a pattern file.
#include <gtest/gtest.h>

#include "DiskTestSupport.h"
#include "disk/SectorReader.h"

namespace kestrum {
namespace {

using test::holdsSector;

class ReaderLoopDevice : public test::ReaderTest {};

TEST_F(ReaderLoopDevice, ChunkedReadsMatchTheBackingFile) {
    const std::string file = dir.file("disk.img");
    test::writePatternFile(file, 0, 4096);
    test::LoopDevice loop(file);
    if (!loop.attached()) GTEST_SKIP() << loop.reason();

    for (uint32_t count : {40u, 41u, 80u, 1000u}) {
        SCOPED_TRACE(count);
        auto buffer = test::staleBuffer(count);
        EXPECT_EQ(readSectors(7, count, buffer.data(), loop.node()), 1);
        for (uint64_t i = 0; i < count; ++i) ASSERT_TRUE(holdsSector(buffer, i, 7 + i));
    }
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderLoopDevice, ConcurrentReadersGetTheirOwnSectors) {
    const std::string file = dir.file("disk.img");
    test::writePatternFile(file, 0, 2048);
    test::LoopDevice loop(file);
    if (!loop.attached()) GTEST_SKIP() << loop.reason();
    EXPECT_EQ(test::concurrentMismatches({{loop.node(), 0, 2048}}), 0);
}

}  // namespace
}  // namespace kestrum
