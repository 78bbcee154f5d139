// Photoshop carving: damage after the sections that were checked.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/PsdCarver.h"

namespace kestrum::carve {
namespace {

TEST(PsdCarver, DamageGivesTheValidPrefix) {
    const auto file = test::dataFile("carve/psd-layers.psd");
    auto be32 = [&](size_t o) {
        return size_t{file[o]} << 24 | file[o + 1] << 16 | file[o + 2] << 8 | file[o + 3];
    };
    const size_t layers = 26 + 4 + be32(26) + 4 + be32(30 + be32(26));
    const size_t data = layers + 4 + be32(layers);
    ASSERT_EQ(file[data + 1], 1);  // run-length coded
    test::expectPartial(psdCarver(), file, data + 20, data + 20, "cut in the row counts");
    auto method = file;  // a method that does not exist: the layer length led astray
    method[data + 1] = 9;
    test::expectPartial(psdCarver(), method, UINT64_MAX, layers, "no such method");
    method[data + 1] = 2;  // deflate: only the image data's start is known
    test::expectPartial(psdCarver(), method, UINT64_MAX, data + 2, "deflate");

    auto resource = file;  // the first resource's signature overwritten
    resource[26 + 4 + 4] = 'X';
    EXPECT_FALSE(test::carveBytes(psdCarver(), resource).has_value());
}

}  // namespace
}  // namespace kestrum::carve
