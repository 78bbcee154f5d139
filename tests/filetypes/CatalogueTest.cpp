// The catalogue's rows and rules, and how a choice of rows and sizes becomes the
// scan's type list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "carve/SizeCeiling.h"
#include "filetypes/Catalogue.h"

using namespace kestrum;

namespace {

std::vector<uint8_t> patternBytes(const SigEntry& e) {
    return {e.bytes.begin(), e.bytes.begin() + e.length};
}

std::vector<SelectedType> allRows(const std::string& size = "2000") {
    std::vector<SelectedType> rows;
    for (const CatalogueRow& r : catalogueRows()) rows.push_back({std::string(r.type), size});
    return rows;
}

std::vector<std::string> names(const TypeList& list) {
    std::vector<std::string> out;
    for (const stExtInfo& r : list) out.emplace_back(r.extName);
    return out;
}

}  // namespace

TEST(Catalogue, EveryRowButDivxHasRulesUnderItsOwnName) {
    ASSERT_EQ(catalogueRows().size(), 41u);
    EXPECT_EQ(catalogueRows()[0].type, "CR2");
    EXPECT_EQ(catalogueRows()[29].type, "DIVX");
    EXPECT_EQ(catalogueRows()[40].type, "PSD");
    EXPECT_EQ(catalogueRows()[40].description, "Adobe Photoshop");
    for (const CatalogueRow& row : catalogueRows()) {
        const auto t = templateFor(row.type);
        if (row.type == "DIVX") {
            EXPECT_FALSE(t.has_value());
            continue;
        }
        ASSERT_TRUE(t.has_value()) << row.type;
        EXPECT_EQ(std::string(t->extName), row.type);
        EXPECT_GE(t->sigCount, 1);
        EXPECT_LE(t->sigCount, 3);
        EXPECT_GE(t->endCount, 1);
        EXPECT_EQ(t->foundCount, 0);
        for (int k = 0; k < t->endCount; ++k) EXPECT_EQ(t->ends[k].offset, -1) << row.type;
    }
    EXPECT_FALSE(templateFor("NRW").has_value());
    EXPECT_FALSE(templateFor("jpeg").has_value());
}

TEST(Catalogue, RulesCarryTheirOffsetsRepeatsAndSizeFields) {
    const stExtInfo jpeg = *templateFor("JPEG");
    ASSERT_EQ(jpeg.sigCount, 3);
    EXPECT_EQ(jpeg.sigs[0].offset, 6);
    EXPECT_EQ(patternBytes(jpeg.sigs[0]), (std::vector<uint8_t>{0x4A, 0x46, 0x49, 0x46}));
    EXPECT_EQ(jpeg.sigs[2].offset, 0);
    EXPECT_EQ(jpeg.sigs[2].length, 8);
    EXPECT_EQ(jpeg.sizeFieldOffset, -1);
    EXPECT_EQ(jpeg.sizeFieldWidth, -1);
    EXPECT_EQ(jpeg.spanLimit, 20480);

    const stExtInfo mpeg = *templateFor("MPEG");
    EXPECT_EQ(mpeg.sigCount, 2);
    EXPECT_EQ(mpeg.sigs[1].offset, 2);
    EXPECT_EQ(mpeg.endCount, 2);
    EXPECT_EQ(patternBytes(mpeg.ends[1]), (std::vector<uint8_t>{0, 0, 1, 0xB9}));

    EXPECT_EQ(patternBytes(templateFor("TIFF")->ends[0]), std::vector<uint8_t>(16, 0));
    std::vector<uint8_t> psdEnd(16, 0);
    psdEnd[0] = 0xFF;
    EXPECT_EQ(patternBytes(templateFor("PSD")->ends[0]), psdEnd);
    EXPECT_EQ(templateFor("MOV")->sigs[0].offset, 3);
    EXPECT_EQ(templateFor("PSP")->sigs[0].length, 14);
    EXPECT_EQ(patternBytes(templateFor("MKV")->ends[0]), (std::vector<uint8_t>{0x4D, 0, 0, 0x53}));
    EXPECT_EQ(templateFor("MKV")->spanLimit, 204800);
    EXPECT_EQ(templateFor("MEF")->spanLimit, 102400);

    struct Size {
        const char* type;
        int32_t offset, max;
    };
    for (const Size& s :
         {Size{"RAW", 414, 26214400}, Size{"WMA", 70, 10485760}, Size{"AU", 8, 10485760},
          Size{"AVI", 4, 104857600}, Size{"ASF", 70, 10485760}, Size{"BMP", 2, 10485760}}) {
        const stExtInfo t = *templateFor(s.type);
        EXPECT_EQ(t.sizeFieldOffset, s.offset) << s.type;
        EXPECT_EQ(t.sizeFieldWidth, 4) << s.type;
        EXPECT_EQ(t.sizeFieldMax, s.max) << s.type;
        // The marker entry is there but not in use: the size field decides.
        EXPECT_EQ(t.endCount, 1) << s.type;
        EXPECT_EQ(t.ends[0].length, -1) << s.type;
    }
}

TEST(Catalogue, MakerTokens) {
    EXPECT_EQ(makerTokenFor("NRW"), "NIKON");
    EXPECT_EQ(makerTokenFor("NEF"), "NIKON");
    EXPECT_EQ(makerTokenFor("CRW"), "Canon");
    EXPECT_EQ(makerTokenFor("AVI"), "AVI LIST");
    EXPECT_EQ(makerTokenFor("OGG"), "Ogg");
    EXPECT_EQ(makerTokenFor("DCR"), "");
    EXPECT_EQ(makerTokenFor("TIFF"), "");
}

TEST(Catalogue, SizeTextRule) {
    struct Case {
        const char* text;
        int32_t kb;
        bool corrected;
    };
    for (const Case& c : {Case{"2000", 2000, false}, Case{"2", 2, false}, Case{"1", 2000, true},
                          Case{"0", 2000, true}, Case{"", 2000, true}, Case{"abc", 2000, true},
                          Case{"250000", 250000, false}, Case{"250001", 2000, true},
                          Case{"300000", 2000, true}, Case{"500kb", 500, false},
                          Case{" 500", 2000, true}, Case{"99999999999999999999999", 2000, true}}) {
        bool corrected = !c.corrected;
        EXPECT_EQ(sizeKbFromText(c.text, &corrected), c.kb) << '"' << c.text << '"';
        EXPECT_EQ(corrected, c.corrected) << '"' << c.text << '"';
    }
}

TEST(Catalogue, SelectingEveryRowGivesFortyRecordsInCatalogueOrder) {
    auto rows = allRows();
    const TypeList list = buildSelection(rows);
    ASSERT_EQ(list.size(), 40u);
    std::vector<std::string> expected;
    for (const CatalogueRow& r : catalogueRows())
        if (r.type != "DIVX") expected.emplace_back(r.type);
    EXPECT_EQ(names(list), expected);
    for (const stExtInfo& r : list) {
        EXPECT_EQ(r.maxSizeBytes, 2000 * 1024);
        EXPECT_EQ(r.foundCount, 0);
    }
}

TEST(Catalogue, SelectionSizesAndCorrections) {
    std::vector<SelectedType> rows{{"JPEG", "1"},   {"CR2", "300000"}, {"PNG", "250000"},
                                   {"GIF", "2"},    {"DIVX", "500"},   {"BMP", "500"},
                                   {"JPEG", "1000"}};
    const TypeList list = buildSelection(rows);
    // Catalogue order whatever the order given; the repeated JPEG row adds nothing.
    EXPECT_EQ(names(list), (std::vector<std::string>{"CR2", "BMP", "JPEG", "PNG", "GIF"}));
    EXPECT_EQ(list[0].maxSizeBytes, 2000 * 1024);
    EXPECT_EQ(list[1].maxSizeBytes, 512000);
    EXPECT_EQ(list[2].maxSizeBytes, 2000 * 1024);
    EXPECT_EQ(list[3].maxSizeBytes, 256000000);
    EXPECT_EQ(list[4].maxSizeBytes, 2048);
    // Corrected texts are handed back for the page to show.
    EXPECT_EQ(rows[0].sizeText, "2000");
    EXPECT_EQ(rows[1].sizeText, "2000");
    EXPECT_EQ(rows[2].sizeText, "250000");
    EXPECT_EQ(rows[3].sizeText, "2");
    // The rest of each record is its template.
    const stExtInfo jpeg = *templateFor("JPEG");
    EXPECT_EQ(std::memcmp(&list[2].sigs, &jpeg.sigs, sizeof jpeg.sigs), 0);
    EXPECT_EQ(list[2].spanLimit, jpeg.spanLimit);
}

TEST(Catalogue, DivxAloneSelectsNothing) {
    std::vector<SelectedType> rows{{"DIVX", "2000"}};
    EXPECT_TRUE(buildSelection(rows).empty());
}

TEST(Catalogue, ThoroughOnlyTypesJoinTheirGroupsInThoroughModeOnly) {
    // Classic: the 41 rows as they are.
    const auto classic = offeredRows(false);
    ASSERT_EQ(classic.size(), 41u);
    for (size_t i = 0; i < classic.size(); ++i) EXPECT_EQ(classic[i].type, catalogueRows()[i].type);
    const auto thorough = offeredRows(true);
    ASSERT_EQ(thorough.size(), 41u + thoroughOnlyRows().size());
    std::vector<std::string> order;
    for (const CatalogueRow& r : thorough) order.emplace_back(r.type);
    const auto at = [&](const char* t) {
        return std::find(order.begin(), order.end(), t) - order.begin();
    };
    EXPECT_EQ(at("CR3"), at("DCR") + 1);
    EXPECT_EQ(at("IIQ") + 1, at("WAV"));
    EXPECT_EQ(at("AMR") + 1, at("MOV"));
    EXPECT_EQ(at("MXF") + 1, at("BMP"));
    EXPECT_EQ(at("JXL") + 1, static_cast<long>(order.size()));
    for (const CatalogueRow& r : thoroughOnlyRows()) {
        EXPECT_TRUE(isThoroughOnly(r.type));
        EXPECT_FALSE(templateFor(r.type).has_value()) << r.type;  // no header rule
        EXPECT_LE(r.type.size(), 4u);
    }
    EXPECT_FALSE(isThoroughOnly("JPEG"));
    EXPECT_EQ(kindOf("FLAC"), TypeKind::Audio);
    EXPECT_EQ(kindOf("3GP"), TypeKind::Video);
    EXPECT_EQ(kindOf("ARW"), TypeKind::Raw);
    EXPECT_EQ(kindOf("WAV"), TypeKind::Audio);
    EXPECT_EQ(kindOf("M4V"), TypeKind::Video);
    EXPECT_EQ(kindOf("BMP"), TypeKind::Picture);
    // The thorough scan's built-in ceilings follow the groups.
    EXPECT_EQ(carve::sizeCeiling("FLAC", nullptr), uint64_t{64} << 30);
    EXPECT_EQ(carve::sizeCeiling("MTS", nullptr), uint64_t{64} << 30);
    EXPECT_EQ(carve::sizeCeiling("HEIC", nullptr), uint64_t{1} << 30);
    EXPECT_EQ(carve::sizeCeiling("CR3", nullptr), uint64_t{1} << 30);

    // A thorough-only type gets a record in thorough mode only, in offered order.
    std::vector<SelectedType> rows{{"HEIC", "500"}, {"PSD", "2000"}, {"CR3", "2000"}};
    EXPECT_EQ(names(buildSelection(rows, false)), std::vector<std::string>{"PSD"});
    const TypeList list = buildSelection(rows, true);
    EXPECT_EQ(names(list), (std::vector<std::string>{"CR3", "PSD", "HEIC"}));
    EXPECT_EQ(list[2].maxSizeBytes, 500 * 1024);
    EXPECT_EQ(list[2].sigCount, 0);
}
