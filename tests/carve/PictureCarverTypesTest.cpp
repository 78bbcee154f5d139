// Every type the picture carvers class files into is a catalogue type, and each
// carver is in the thorough scan's table.
#include <gtest/gtest.h>

#include <algorithm>

#include "carve/BmpCarver.h"
#include "carve/GifCarver.h"
#include "carve/Jp2Carver.h"
#include "carve/JpegCarver.h"
#include "carve/PngCarver.h"
#include "carve/PsdCarver.h"
#include "carve/PspCarver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve {
namespace {

TEST(PictureCarvers, TypesAreCatalogueTypesAndTheTableHasEveryFamily) {
    const auto rows = catalogueRows();
    const auto table = carvers();
    for (const CarverEntry* e : {&jpegCarver(), &pngCarver(), &gifCarver(), &bmpCarver(),
                                 &psdCarver(), &pspCarver(), &jp2Carver()}) {
        ASSERT_FALSE(e->types.empty()) << e->family;
        for (std::string_view type : e->types) {
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const CatalogueRow& row) { return row.type == type; }))
                << e->family << ": " << type;
        }
        EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const CarverEntry& t) {
            return t.carve == e->carve;
        })) << e->family;
    }
}

}  // namespace
}  // namespace kestrum::carve
