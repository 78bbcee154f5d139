// BMP carving: the size field checked against the pixel array.
#include <gtest/gtest.h>

#include <string>

#include "ImageCarveSupport.h"
#include "carve/BmpCarver.h"

namespace kestrum::carve {
namespace {

void setLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * i);
}

TEST(BmpCarver, SizeFieldsAndHeaderChecks) {
    // A zero, absurd or short size field: the pixel array decides.
    const auto file = test::dataFile("picture.bmp");
    for (uint32_t size : {0u, 0x7FFFFFFFu, 1100u}) {
        auto b = file;
        setLe32(b, 2, size);
        test::expectWhole(bmpCarver(), b, "BMP", "size field " + std::to_string(size));
    }
    auto planes = file;
    planes[26] = 2;
    EXPECT_FALSE(test::carveBytes(bmpCarver(), planes).has_value());
    auto offset = file;  // pixels before the end of the headers
    setLe32(offset, 10, 20);
    EXPECT_FALSE(test::carveBytes(bmpCarver(), offset).has_value());
    auto header = file;
    header[14] = 41;
    EXPECT_FALSE(bmpCarver().quick(header.data()));
}

}  // namespace
}  // namespace kestrum::carve
