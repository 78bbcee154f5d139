// PNG carving: the checked header, chunk damage, Apple's CgBI chunk.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageCarveSupport.h"
#include "carve/PngCarver.h"

namespace kestrum::carve {
namespace {

TEST(PngCarver, HeaderChecksChunkDamageAndCgbi) {
    const auto file = test::dataFile("picture.png");
    auto crc = file;  // the header's checksum no longer matches
    crc[29] ^= 1;
    EXPECT_FALSE(test::carveBytes(pngCarver(), crc).has_value());

    auto over = file;  // the chunk after the header: its type is no longer letters
    std::memset(over.data() + 33, 0, 64);
    test::expectPartial(pngCarver(), over, UINT64_MAX, 33, "overwritten chunk");
    auto huge = file;  // a length no chunk may have
    huge[33] = 0xFF;
    test::expectPartial(pngCarver(), huge, UINT64_MAX, 33, "huge chunk");

    std::vector<uint8_t> cgbi(file.begin(), file.begin() + 8);
    const uint8_t chunk[16] = {0,    0, 0,    4, 'C',  'g',  'B',  'I',
                               0x50, 0, 0x20, 2, 0x2B, 0xD5, 0xB3, 0x7F};
    cgbi.insert(cgbi.end(), chunk, chunk + 16);
    cgbi.insert(cgbi.end(), file.begin() + 8, file.end());
    test::expectWhole(pngCarver(), cgbi, "PNG", "CgBI");
}

}  // namespace
}  // namespace kestrum::carve
