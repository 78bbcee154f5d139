// The fast searches behind the extent rule must give exactly what a plain search
// and a sector-by-sector FindFileEnd give.
#include <gtest/gtest.h>

#include <random>

#include "ScanTestSupport.h"
#include "scan/ExtentRules.h"

namespace kestrum::test {
namespace {

size_t plainFind(const std::vector<uint8_t>& data, const std::vector<uint8_t>& pattern) {
    for (size_t i = 0; i + pattern.size() <= data.size(); ++i)
        if (std::equal(pattern.begin(), pattern.end(), data.begin() + i)) return i;
    return SectorView::npos;
}

TEST(MarkerSearch, FindsWhatAPlainSearchFinds) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        // Few distinct byte values, so first and last bytes often match by chance.
        std::vector<uint8_t> data(random() % 200);
        for (auto& b : data) b = static_cast<uint8_t>(random() % 4);
        std::vector<uint8_t> pattern(1 + random() % 28);
        for (auto& b : pattern) b = static_cast<uint8_t>(random() % 4);
        if (!data.empty() && random() % 2 && pattern.size() <= data.size()) {
            const size_t at = random() % (data.size() - pattern.size() + 1);
            std::copy(pattern.begin(), pattern.end(), data.begin() + at);
        }
        EXPECT_EQ(SectorView::findIn(data.data(), data.size(), pattern.data(), pattern.size()),
                  plainFind(data, pattern))
            << "round " << round;
    }
}

TEST(MarkerSearch, NextMarkerSectorIsWhereFindFileEndFirstEnds) {
    std::mt19937 random(11);
    for (const char* type : {"JPEG", "MPEG", "PNG", "DV", "BMP"}) {
        for (int round = 0; round < 40; ++round) {
            TypeList types = typesOf({type});
            const stExtInfo& r = types[0];
            std::vector<uint8_t> batch(64 * 512);
            for (auto& b : batch) b = static_cast<uint8_t>(0x10 + random() % 0x60);
            // Plant end markers, some across a sector edge, some at the batch's end.
            for (int k = 0; k < 3; ++k) {
                const SigEntry& e = r.ends[static_cast<size_t>(random() % std::max(r.endCount, 1))];
                if (e.length <= 0) continue;
                size_t at = random() % batch.size();
                if (k == 0) at = (random() % 64) * 512 + 512 - 1;  // runs into the next sector
                if (at + e.length > batch.size()) at = batch.size() - e.length;
                std::copy(e.bytes.begin(), e.bytes.begin() + e.length, batch.begin() + at);
            }
            const SectorView view(batch.data(), batch.size(), 1000);
            for (size_t j = 0; j < 64; j += 1 + random() % 5) {
                uint64_t expected = 1064;
                for (size_t s = j; s < 64; ++s) {
                    TypeList scratch = types;
                    uint32_t count = 0;
                    int32_t number = 0;
                    if (FindFileEnd(scratch, 0, view.fromSector(s), 1000, 1000 + s, count,
                                    number) != kNoEndHere) {
                        expected = 1000 + s;
                        break;
                    }
                }
                const uint64_t next = nextMarkerSector(r, view.fromSector(j));
                if (r.sizeFieldOffset != -1)
                    EXPECT_EQ(next, 1000 + j) << type << ": a size field is asked every sector";
                else
                    EXPECT_EQ(next, expected) << type << " from sector " << j;
            }
        }
    }
}

}  // namespace
}  // namespace kestrum::test
