// The rescue map in GNU ddrescue's mapfile format: a map ddrescue wrote reads
// back block for block, ours reads back as written, and editing keeps the map
// contiguous and as short as the format's own.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "imaging/RescueMap.h"
#include "imaging/RescueRun.h"

namespace kestrum {
namespace {

std::string blocksText(const RescueMap& map) {
    std::ostringstream out;
    for (const MapBlock& b : map.blocks())
        out << std::hex << b.pos << " " << b.size << " " << b.status << "\n";
    return out.str();
}

TEST(RescueMapFormat, ReadsAMapGnuDdrescueWrote) {
    std::ifstream in(std::string(KESTRUM_TEST_DATA_DIR) + "/ddrescue-partial.map");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const auto map = RescueMap::parse(text.str(), &error);
    ASSERT_TRUE(map) << error;
    EXPECT_EQ(map->currentPos, 0x550000u);
    EXPECT_EQ(map->currentStatus, '+');
    EXPECT_EQ(map->currentPass, 5);
    EXPECT_EQ(blocksText(*map),
              "0 70000 +\n70000 20000 *\n90000 1e0000 +\n270000 10000 *\n280000 1e0000 +\n"
              "460000 110000 *\n570000 290000 +\n800000 800000 ?\n");
    EXPECT_EQ(map->size(), 0x1000000u);
    EXPECT_TRUE(map->imageOrigin.empty()) << "another tool's map says nothing about our image";
    EXPECT_EQ(map->bytesWith('*', 0x60000, 0x80000), 0x10000u);
    EXPECT_EQ(map->bytesWith('?', 0xF00000, 0x1100000), 0x200000u) << "past the end is untried";
}

TEST(RescueMapFormat, WritesWhatItReadsBack) {
    RescueMap map(0x10000);
    map.mark(0x200, 0x400, '+');
    map.mark(0x1000, 0x200, '-');
    map.mark(0x1200, 0x200, '/');
    map.currentPos = 0x1200;
    map.currentStatus = '/';
    map.currentPass = 1;
    map.imageOrigin = "source sector 0 is image byte 0, one file";
    const std::string text = map.format("kestrum-recover image x --rescue", 0, 0);
    EXPECT_NE(text.find("\n0x00001000  0x00000200  -\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n0x00001200     /               1\n"), std::string::npos) << text;
    std::string error;
    const auto back = RescueMap::parse(text, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(blocksText(*back), blocksText(map));
    EXPECT_EQ(back->currentPos, 0x1200u);
    EXPECT_EQ(back->currentStatus, '/');
    EXPECT_EQ(back->imageOrigin, map.imageOrigin);
}

TEST(RescueMapFormat, RefusesWhatIsNotAMap) {
    for (const char* text : {
             "0x0 0x200 +\n",                      // no current-position line
             "0 +\n0x0 0x400 +\n0x200 0x200 -\n",  // overlapping blocks
             "0 +\n0x400 0x200 +\n0x0 0x200 -\n",  // out of order
             "0 +\n0x0 0x200 X\n",                 // unknown status
             "0 +\n0x0 size +\n",                  // not a number
         })
        EXPECT_FALSE(RescueMap::parse(text)) << text;
    // A gap, or a first block after 0, is untried: ddrescue writes such maps for
    // a domain that does not start at 0.
    const auto gap = RescueMap::parse("0 ?\n0x200 0x200 +\n0x600 0x200 -\n");
    ASSERT_TRUE(gap);
    EXPECT_EQ(blocksText(*gap), "0 200 ?\n200 200 +\n400 200 ?\n600 200 -\n");
    // GNU ddrescue takes an empty map as a new one, and a comment after the fields.
    for (const char* text : {"", "# nothing yet\n"}) {
        const auto empty = RescueMap::parse(text);
        ASSERT_TRUE(empty) << text;
        EXPECT_EQ(empty->bytesWith('+', 0, 1 << 20), 0u);
    }
    const auto commented = RescueMap::parse("0x200 - 2 # retrying\n0 0x400 + # read\n");
    ASSERT_TRUE(commented);
    EXPECT_EQ(blocksText(*commented), "0 400 +\n");
    EXPECT_EQ(commented->currentPass, 2);
}

TEST(RescueMapFormat, MarkingSplitsAndJoinsBlocks) {
    RescueMap map(0x4000);
    map.mark(0x1000, 0x1000, '*');
    map.mark(0x1400, 0x200, '-');
    EXPECT_EQ(blocksText(map), "0 1000 ?\n1000 400 *\n1400 200 -\n1600 a00 *\n2000 2000 ?\n");
    map.mark(0x1000, 0x1000, '+');
    map.mark(0, 0x1000, '+');
    EXPECT_EQ(blocksText(map), "0 2000 +\n2000 2000 ?\n");
    map.mark(0x5000, 0x200, '-');  // beyond the end: the gap stays untried
    EXPECT_EQ(blocksText(map), "0 2000 +\n2000 3000 ?\n5000 200 -\n");
    EXPECT_EQ(map.findForward('?', 0, 0x6000)->pos, 0x2000u);
    EXPECT_EQ(map.findBackward('?', 0, 0x4000)->end(), 0x4000u) << "clipped to the bound";
    EXPECT_FALSE(map.findForward('*', 0, 0x6000));
    EXPECT_TRUE(map.anyUnfinished(0x1E00, 0x2200));
    EXPECT_FALSE(map.anyUnfinished(0, 0x2000));
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// Sizes are cut, never rounded up: a rescue short of 64 GiB by its bad bytes
// must not read as 64 GiB rescued.
TEST(RescueFigures, RoundingNeverHidesBadBytes) {
    RescueRun run(RescueSettings{});
    run.bytesRescued.store((64ull << 30) - 51170304);  // 48.8 MiB short
    run.bytesBad.store(51170304);
    EXPECT_EQ(run.figuresText(), "rescued 63.9 GiB, bad 48.7 MiB, not tried 0 B");
}

}  // namespace
}  // namespace kestrum
