// Shared checks of the audio carver tests: encoder files measured alone and with
// other bytes behind them, and carving through a reader with a given limit.
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

namespace kestrum::carve::audiotest {

inline std::vector<uint8_t> data(const std::string& name) {
    return test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
}

inline std::optional<Carved> carveBytes(const CarverEntry& e, const std::vector<uint8_t>& bytes,
                                        uint64_t limit = UINT64_MAX) {
    MemoryReader r(bytes.data(), bytes.size(), limit);
    return e.carve(r);
}

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
    return out;
}

inline std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The file passes the quick test and measures to its own size, alone and when
// zeros or random bytes follow it (the length must not run on).
inline void expectExact(const CarverEntry& e, const std::string& name, std::string_view type) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> file = data(name);
    ASSERT_FALSE(file.empty());
    std::vector<uint8_t> sector(file);
    sector.resize(std::max<size_t>(sector.size(), 512));
    EXPECT_TRUE(e.quick(sector.data()));
    const std::vector<uint8_t> tails[] = {{}, std::vector<uint8_t>(4096, 0), randomBytes(4096, 11)};
    for (const auto& tail : tails) {
        const auto c = carveBytes(e, concat(file, tail));
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->type, type);
        EXPECT_EQ(c->length, file.size());
        EXPECT_FALSE(c->partial);
    }
}

inline void expectPartial(const std::optional<Carved>& c, uint64_t length) {
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, length);
    EXPECT_TRUE(c->partial);
}

}  // namespace kestrum::carve::audiotest
