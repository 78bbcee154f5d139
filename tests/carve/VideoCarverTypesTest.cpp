// Every type a video carver can return is a catalogue type.
#include <gtest/gtest.h>

#include <algorithm>

#include "carve/DvCarver.h"
#include "carve/IsoMediaCarver.h"
#include "carve/MatroskaCarver.h"
#include "carve/MpegCarver.h"
#include "carve/RealMediaCarver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve {
namespace {

TEST(VideoCarverTypes, AreCatalogueTypesAndInTheTable) {
    const auto rows = offeredRows(true);
    const auto table = carvers();
    for (const CarverEntry* e :
         {&isoMediaCarver(), &matroskaCarver(), &mpegCarver(), &realMediaCarver(), &dvCarver()}) {
        EXPECT_FALSE(e->types.empty()) << e->family;
        for (std::string_view t : e->types)
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const CatalogueRow& r) { return r.type == t; }))
                << e->family << ": " << t;
        EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const CarverEntry& x) {
            return x.family == e->family;
        })) << e->family;
    }
}

}  // namespace
}  // namespace kestrum::carve
