// The carver table as the thorough scan uses it: a family is asked only for the
// first bytes it declares, so a declaration that misses a byte its quick test
// accepts would silently lose files. Checked on the first sector of every real
// file the tests hold, and on the same sectors with every other first byte.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "carve/Carver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve {
namespace {

std::vector<std::array<uint8_t, 512>> firstSectors() {
    std::vector<std::array<uint8_t, 512>> sectors;
    for (const std::string dir :
         {std::string(KESTRUM_TEST_DATA_DIR), std::string(KESTRUM_TEST_DATA_DIR) + "/carve",
          std::string(KESTRUM_SAMPLES_DIR)}) {
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
            if (!e.is_regular_file()) continue;
            const auto bytes = test::readFile(e.path().string());
            std::array<uint8_t, 512> s{};
            std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 512), s.begin());
            sectors.push_back(s);
        }
    }
    return sectors;
}

TEST(CarverTable, QuickTestsPassOnlyOnTheFirstBytesTheirFamiliesDeclare) {
    const auto sectors = firstSectors();
    ASSERT_GT(sectors.size(), 60u);
    size_t accepted = 0;
    for (const CarverEntry& c : carvers()) {
        if (c.firstBytes.empty()) continue;
        for (auto s : sectors) {
            if (c.quick(s.data())) {
                ++accepted;
                EXPECT_NE(c.firstBytes.find(static_cast<char>(s[0])), std::string_view::npos)
                    << c.family << " accepts first byte " << int{s[0]};
            }
            for (int b = 0; b < 256; ++b) {
                if (c.firstBytes.find(static_cast<char>(b)) != std::string_view::npos) continue;
                s[0] = static_cast<uint8_t>(b);
                EXPECT_FALSE(c.quick(s.data())) << c.family << " with first byte " << b;
            }
        }
    }
    EXPECT_GT(accepted, 40u);  // the real files did reach the quick tests
}

// A type's kind, ceiling and preview come from its catalogue row: a type a carver
// lists without one would be walked only as far as a picture, never previewed,
// and never offered on the type page.
TEST(CarverTable, EveryTypeACarverListsHasACatalogueRow) {
    for (const CarverEntry& c : carvers())
        for (std::string_view type : c.types)
            EXPECT_NE(findRow(type), nullptr) << c.family << " lists " << type;
}

}  // namespace
}  // namespace kestrum::carve
