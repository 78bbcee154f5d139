// Helpers shared by the video carver tests: test files, placing a file among other
// bytes, and running one carver over a byte buffer.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "carve/Carver.h"

namespace kestrum::carve::videotest {

using Bytes = std::vector<uint8_t>;

// A file of tests/data (names under carve/ included); fails the test when missing.
inline Bytes media(const std::string& name) {
    Bytes b = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
    EXPECT_FALSE(b.empty()) << name;
    return b;
}

inline Bytes randomBytes(size_t n, uint32_t seed = 7) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
}

inline Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Carves bytes from offset 0 with the limit at `limit` (the buffer's end by default).
inline std::optional<Carved> carveBytes(const CarverEntry& e, const Bytes& b,
                                        uint64_t limit = UINT64_MAX) {
    MemoryReader r(b.data(), b.size(), limit);
    return e.carve(r);
}

// The carver must find a whole file of exactly `length` bytes and the given type
// in each surrounding: zeros after it, random bytes after it, and the file itself
// again (the next recording right behind it) unless the format cannot tell two
// recordings from one longer one.
inline void expectWholeInEverySurrounding(const CarverEntry& e, const Bytes& file,
                                          std::string_view type, const std::string& what,
                                          bool nextRecordingSeparate = true) {
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"alone", file},
        {"then zeros", concat(file, Bytes(8192, 0))},
        {"then random", concat(file, randomBytes(8192))},
    };
    if (nextRecordingSeparate) cases.emplace_back("then itself", concat(file, file));
    for (const auto& [name, bytes] : cases) {
        const auto c = carveBytes(e, bytes);
        ASSERT_TRUE(c.has_value()) << what << ", " << name;
        EXPECT_EQ(c->type, type) << what << ", " << name;
        EXPECT_EQ(c->length, file.size()) << what << ", " << name;
        EXPECT_FALSE(c->partial) << what << ", " << name;
    }
    Bytes sector(512, 0);
    std::copy_n(file.begin(), std::min<size_t>(512, file.size()), sector.begin());
    EXPECT_TRUE(e.quick(sector.data())) << what;
}

}  // namespace kestrum::carve::videotest
