// Shared by the camera-raw and TIFF carver tests: runs a carver on bytes in
// memory the way the thorough scan does, and checks that whatever it returns is
// one of its family's catalogue types and stays inside the limit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "carve/Carver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve::rawtest {

inline bool isCatalogueType(std::string_view type) {
    const auto rows = offeredRows(true);
    return std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.type == type; });
}

// quick() on the first sector (padded with zeros like a short last sector), then
// carve() with the given limit.
inline std::optional<Carved> run(const CarverEntry& e, const std::vector<uint8_t>& bytes,
                                 uint64_t limit = UINT64_MAX) {
    std::vector<uint8_t> sector(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 512));
    sector.resize(512);
    if (!e.quick(sector.data())) return std::nullopt;
    MemoryReader r(bytes.data(), bytes.size(), limit);
    auto c = e.carve(r);
    if (c) {
        EXPECT_TRUE(std::find(e.types.begin(), e.types.end(), c->type) != e.types.end()) << c->type;
        EXPECT_TRUE(isCatalogueType(c->type)) << c->type;
        EXPECT_GT(c->length, 0u);
        EXPECT_LE(c->length, r.limit());
    }
    return c;
}

// "TYPE length", "TYPE length partial" or "none": one comparison per case.
inline std::string describe(const std::optional<Carved>& c) {
    if (!c) return "none";
    return std::string(c->type) + " " + std::to_string(c->length) + (c->partial ? " partial" : "");
}

inline std::string expect(std::string_view type, uint64_t length, bool partial = false) {
    return std::string(type) + " " + std::to_string(length) + (partial ? " partial" : "");
}

inline std::vector<uint8_t> dataFile(const std::string& name) {
    return test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/carve/" + name);
}

inline std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

inline std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace kestrum::carve::rawtest
