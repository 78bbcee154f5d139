// Reading a source without the page cache, as the reader's sector-by-sector pass
// does: the same bytes as a cached read, also where the medium refuses O_DIRECT.
#include "platform/SourceFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "LoopDevice.h"
#include "TestSupport.h"

namespace kestrum::platform {
namespace {

constexpr size_t kSector = 512;

// Every sector starts with its number and is filled with a byte of its own.
std::string numberedSectors(size_t sectors) {
    std::string bytes(sectors * kSector, '\0');
    for (size_t s = 0; s < sectors; ++s) {
        std::memset(bytes.data() + s * kSector, static_cast<int>('a' + s % 26), kSector);
        const std::string tag = "SECTOR " + std::to_string(s);
        bytes.replace(s * kSector, tag.size(), tag);
    }
    return bytes;
}

// Reads each sector alone, into a buffer the caller did not align, and checks it.
void expectSectorBySector(const SourceFile& source, const std::string& bytes) {
    char raw[kSector + 1];
    char* sector = raw + 1;
    for (size_t s = 0; s * kSector < bytes.size(); ++s) {
        const size_t want = std::min(kSector, bytes.size() - s * kSector);
        ASSERT_EQ(source.readAt(s * kSector, sector, kSector), static_cast<ssize_t>(want))
            << "sector " << s;
        EXPECT_EQ(std::string(sector, want), bytes.substr(s * kSector, want)) << "sector " << s;
    }
    EXPECT_EQ(source.readAt(bytes.size() + kSector, sector, kSector), 0);
}

TEST(SourceFileTest, UnbufferedFileReadsLikeACachedOne) {
    test::TempDir dir;
    // Three and a half sectors: the last read comes up short.
    const std::string bytes = numberedSectors(4).substr(0, 7 * kSector / 2);
    test::writeFile(dir.file("Image0.img"), bytes);
    std::string error;
    const auto source =
        SourceFile::open(dir.file("Image0.img"), &error, SourceFile::Caching::Unbuffered);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->size(), bytes.size());
    expectSectorBySector(*source, bytes);
}

class UnbufferedDevice : public ::testing::TestWithParam<const char*> {};

// With 4096-byte logical blocks a 512-byte O_DIRECT read is refused; the handle
// must then read the same sector through the cache.
TEST_P(UnbufferedDevice, EverySectorReadsAlone) {
    if (const auto why = test::loopUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string bytes = numberedSectors(64);
    test::writeFile(dir.file("disk.img"), bytes);
    test::LoopDevice loop(dir.file("disk.img"), GetParam());
    if (!loop.ok()) GTEST_SKIP() << loop.why();

    std::string error;
    const auto source = SourceFile::open(loop.node(), &error, SourceFile::Caching::Unbuffered);
    ASSERT_NE(source, nullptr) << error;
    ASSERT_TRUE(source->isBlockDevice());
    EXPECT_EQ(source->size(), bytes.size());
    expectSectorBySector(*source, bytes);
}

INSTANTIATE_TEST_SUITE_P(LogicalBlocks, UnbufferedDevice, ::testing::Values("-b 512", "-b 4096"));

}  // namespace
}  // namespace kestrum::platform
