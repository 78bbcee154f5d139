// Helpers shared by the picture carvers' tests: encoder files, carving a byte
// buffer, and files embedded in surrounding bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "carve/Carver.h"

namespace kestrum::carve::test {

inline std::vector<uint8_t> dataFile(const std::string& name) {
    return kestrum::test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
}

inline std::optional<Carved> carveBytes(const CarverEntry& e, const std::vector<uint8_t>& b,
                                        uint64_t limit = UINT64_MAX) {
    MemoryReader r(b.data(), b.size(), limit);
    return e.carve(r);
}

inline std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

// The file followed by `after` (random or zero bytes), padded so the quick test
// sees a whole sector.
inline std::vector<uint8_t> followedBy(std::vector<uint8_t> file,
                                       const std::vector<uint8_t>& after) {
    file.insert(file.end(), after.begin(), after.end());
    if (file.size() < 512) file.resize(512);
    return file;
}

// Asserts the whole file is recognised and measured exactly, alone and with
// random and zero bytes after it.
inline void expectWhole(const CarverEntry& e, const std::vector<uint8_t>& file,
                        std::string_view type, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(file.empty());
    std::vector<uint8_t> sector = file;
    sector.resize(std::max<size_t>(sector.size(), 512));
    EXPECT_TRUE(e.quick(sector.data()));
    for (const auto& after :
         {std::vector<uint8_t>{}, randomBytes(70000, 5), std::vector<uint8_t>(70000, 0)}) {
        const auto c = carveBytes(e, followedBy(file, after), UINT64_MAX);
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->type, type);
        EXPECT_EQ(c->length, file.size());
        EXPECT_FALSE(c->partial);
    }
}

// Asserts the bytes are recognised as a partial file of `length` bytes.
inline void expectPartial(const CarverEntry& e, const std::vector<uint8_t>& bytes, uint64_t limit,
                          uint64_t length, const std::string& what) {
    SCOPED_TRACE(what);
    const auto c = carveBytes(e, bytes, limit);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, length);
}

}  // namespace kestrum::carve::test
