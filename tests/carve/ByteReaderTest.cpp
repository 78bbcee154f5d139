// The bounded reader every structure walk goes through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carve/ByteReader.h"

namespace kestrum::carve {
namespace {

TEST(ByteReader, ReadsStopAtTheLimitAndFetchesFailPastIt) {
    std::vector<uint8_t> bytes(600);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    MemoryReader r(bytes.data(), bytes.size(), 520);
    EXPECT_EQ(r.limit(), 520u);
    uint8_t out[16];
    EXPECT_EQ(r.read(512, out, 16), 8u);
    EXPECT_EQ(r.read(520, out, 16), 0u);
    EXPECT_EQ(r.be16(1), 0x0102);
    EXPECT_EQ(r.le32(4), 0x07060504u);
    EXPECT_EQ(r.be64(8), 0x08090A0B0C0D0E0Full);
    EXPECT_FALSE(r.le32(517).has_value());
    EXPECT_TRUE(r.le32(516).has_value());
}

TEST(ByteReader, FindSpansItsBlocksAndKeepsToItsWindow) {
    // The pattern straddles the 256 KiB block edge of the search.
    std::string bytes(300 * 1024, 'a');
    const size_t at = 256 * 1024 - 2;
    bytes.replace(at, 4, "\xFF\xD9\xFF\xD9");
    MemoryReader r(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const uint8_t eoi[] = {0xFF, 0xD9};
    EXPECT_EQ(r.find(0, eoi, 2, UINT64_MAX), at);
    EXPECT_EQ(r.find(at + 1, eoi, 2, UINT64_MAX), at + 2);
    EXPECT_FALSE(r.find(0, eoi, 2, at).has_value());  // may start only before `at`
    EXPECT_EQ(r.find(0, eoi, 2, at + 1), at);
    EXPECT_FALSE(r.find(at + 3, eoi, 2, UINT64_MAX).has_value());
    MemoryReader cut(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), at + 1);
    EXPECT_FALSE(cut.find(0, eoi, 2, UINT64_MAX).has_value());
}

}  // namespace
}  // namespace kestrum::carve
