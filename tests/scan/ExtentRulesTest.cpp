// Where files end: size fields at their bounds, markers at sector and buffer
// edges, the marker run of PSP and MP3, and read-ahead that gives each sector as a
// one-sector read would.
#include <gtest/gtest.h>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "scan/ExtentRules.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

struct Outcome {
    int32_t result;
    uint32_t count;
    int32_t found;
};

// FindFileEnd on sector j of bytes (the whole of bytes being the read buffer),
// for a file that started sector `start` of the buffer.
Outcome findEnd(TypeList& types, const std::vector<uint8_t>& bytes, size_t j = 0,
                size_t start = 0) {
    Outcome o{0, 0, 0};
    const SectorView view = SectorView(bytes.data(), bytes.size(), 100).fromSector(j);
    o.result = FindFileEnd(types, 0, view, 100 + start, 100 + j, o.count, o.found);
    return o;
}

Outcome sizeField(const char* type, uint32_t value) {
    TypeList types = typesOf({type});
    Medium m(1);
    if (std::strcmp(type, "AU") == 0)
        m.putBE32(0, types[0].sizeFieldOffset, value);
    else
        m.putLE32(0, types[0].sizeFieldOffset, value);
    return findEnd(types, m.bytes);
}

}  // namespace

TEST(FindFileEnd, SizeFieldsAtTheirBounds) {
    struct Case {
        const char* type;
        uint32_t value;
        int32_t result;
        uint32_t count;  // when the file ends
    };
    const Case cases[] = {
        {"BMP", 0, kRejected, 0},
        {"BMP", 1000000, kFileEnds, 1954},
        {"BMP", 10485760, kFileEnds, 20481},
        {"BMP", 10485761, kRejected, 0},
        {"BMP", 0x80000000u, kRejected, 0},  // negative
        {"BMP", 1024, kFileEnds, 3},         // an exact multiple still gets one more
        {"WMA", 0, kRejected, 0},
        {"WMA", 10485761, kRejected, 0},
        {"WMA", 511, kFileEnds, 1},
        {"AU", 0, kNoEndHere, 0},
        {"AU", 0xFFFFFFFFu, kNoEndHere, 0},
        {"AU", 10485761, kRejected, 0},
        {"AU", 0x00010000, kFileEnds, 129},  // big-endian
        {"AVI", 0, kNoEndHere, 0},
        {"AVI", 104857600, kFileEnds, 204801},
        {"AVI", 104857601, kFileEnds, 4001},  // clamped to the 2000 KB maximum
        {"ASF", 10485761, kFileEnds, 4001},
        {"RAW", 0x80000000u, kNoEndHere, 0},
        {"RAW", 26214401, kFileEnds, 4001},
        {"RAW", 5000, kFileEnds, 10},
    };
    for (const Case& c : cases) {
        const Outcome o = sizeField(c.type, c.value);
        EXPECT_EQ(o.result, c.result) << c.type << " " << c.value;
        if (c.result == kFileEnds) {
            EXPECT_EQ(o.count, c.count) << c.type << " " << c.value;
            EXPECT_EQ(o.found, 1);
        }
    }
}

TEST(FindFileEnd, SizeFieldIsReadAtItsOffsetInWhicheverSectorIsAsked) {
    TypeList types = typesOf({"AVI"});
    Medium m(2);
    m.putLE32(1, 4, 4096);  // the header's own field was 0
    EXPECT_EQ(findEnd(types, m.bytes, 0).result, kNoEndHere);
    const Outcome o = findEnd(types, m.bytes, 1, 0);
    EXPECT_EQ(o.result, kFileEnds);
    EXPECT_EQ(o.count, 9u);  // the value decides alone, not the distance from the header
}

TEST(FindFileEnd, MarkerEndsTheFileInTheSectorWhereItStarts) {
    TypeList jpeg = typesOf({"JPEG"});
    {
        Medium m(1);
        m.put(0, 0, {0xFF, 0xD8, 0xFF, 0xE0}).put(0, 300, {0xFF, 0xD9});
        const Outcome o = findEnd(jpeg, m.bytes);
        EXPECT_EQ(o.result, kFileEnds);
        EXPECT_EQ(o.count, 1u);  // the header sector itself
    }
    {
        Medium m(3);
        m.put(1, 511, {0xFF}).put(2, 0, {0xD9});
        EXPECT_EQ(findEnd(jpeg, m.bytes, 0).result, kNoEndHere);
        const Outcome o = findEnd(jpeg, m.bytes, 1);
        EXPECT_EQ(o.result, kFileEnds);
        EXPECT_EQ(o.count, 2u);
        EXPECT_EQ(o.found, 2);  // the record's count went on from the first file
        EXPECT_EQ(jpeg[0].foundCount, 2);
        // The same two sectors as the end of the read buffer: no end there.
        std::vector<uint8_t> cut(m.bytes.begin(), m.bytes.begin() + 1024);
        EXPECT_EQ(findEnd(jpeg, cut, 1).result, kNoEndHere);
    }
    // Either of two markers; and 16 zero bytes may straddle sectors like any marker.
    TypeList mpeg = typesOf({"MPEG"});
    Medium m(1);
    m.put(0, 100, {0, 0, 1, 0xB9});
    EXPECT_EQ(findEnd(mpeg, m.bytes).result, kFileEnds);
    TypeList tiff = typesOf({"TIFF"});
    std::vector<uint8_t> ones(1024, 1);
    EXPECT_EQ(findEnd(tiff, ones).result, kNoEndHere);
    std::fill(ones.begin() + 505, ones.begin() + 521, 0);
    EXPECT_EQ(findEnd(tiff, ones).result, kFileEnds);
}

TEST(FollowMarkerRun, RunsOn350SectorsPastTheLastMarker) {
    struct Case {
        const char* type;
        const char* marker;
        std::vector<uint64_t> markerSectors;  // relative to the header
        uint32_t count;
    };
    const Case cases[] = {
        {"PSP", "~BK", {}, 10},
        {"MP3", "LAME", {0}, 10},
        {"MP3", "LAME", {0, 300}, 310},
        {"MP3", "LAME", {0, 349}, 359},  // the 349th miss is still examined
        {"MP3", "LAME", {0, 350}, 10},   // the 350th is read but not examined
        {"PSP", "~BK", {200, 500, 849}, 859},
    };
    const uint64_t header = 5000;
    for (const Case& c : cases) {
        TypeList types = typesOf({c.type});
        Medium m(2000);
        for (uint64_t s : c.markerSectors) m.put(s, 256, c.marker);
        MemorySource source(m.bytes, 0, header);
        source.logReads = true;
        uint32_t count = 0;
        int32_t found = 0;
        const SectorView sector(m.bytes.data(), 512, header);
        EXPECT_EQ(FollowMarkerRun(types, 0, sector, header, header, count, found, source),
                  kFileEnds);
        EXPECT_EQ(count, c.count) << c.type << " " << c.markerSectors.size();
        EXPECT_EQ(found, 1);
        // Exactly the sectors after the header up to 350 past the last hit were read.
        uint64_t next = header + 1;
        for (auto [start, n] : source.reads) {
            EXPECT_EQ(start, next);
            next += n;
        }
        const uint64_t lastHit = header + c.count - 10;
        EXPECT_EQ(next, lastHit + 351) << c.type;
    }
}

TEST(FollowMarkerRun, MarkerMustLieInsideOneSector) {
    TypeList types = typesOf({"MP3"});
    Medium m(20);
    m.put(10, 510, "LA").put(11, 0, "ME");
    MemorySource source(m.bytes);
    uint32_t count = 0;
    int32_t found = 0;
    FollowMarkerRun(types, 0, SectorView(m.bytes.data(), m.bytes.size(), 0), 0, 0, count, found,
                    source);
    EXPECT_EQ(count, 10u);
}

TEST(FollowMarkerRun, SectorsBeyondTheRangeGuardAreZeros) {
    // The source holds "LAME" in sectors 60 and 61, the guard is 60: a one-sector
    // read of 60 still reads, one of 61 gives zeros.
    TypeList types = typesOf({"MP3"});
    Medium m(100);
    m.put(0, 0, "ID3\x03").put(60, 0, "LAME").put(61, 0, "LAME");
    MemorySource source(m.bytes, 60);
    uint32_t count = 0;
    int32_t found = 0;
    FollowMarkerRun(types, 0, SectorView(m.bytes.data(), 512, 0), 0, 0, count, found, source);
    EXPECT_EQ(count, 70u);
}

TEST(ReadEachSector, GivesEverySectorAsAOneSectorReadWould) {
    // A source whose multi-sector reads of a "weak" sector fail and leave junk,
    // while a one-sector read of it delivers: blocks must be read again.
    class Weak : public MemorySource {
    public:
        using MemorySource::MemorySource;
        int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) override {
            const int32_t r = MemorySource::read(start, count, buffer);
            if (count > 1 && start <= 77 && 77 < start + count) {
                std::memset(buffer, 0xEE, size_t{count} * 512);
                return 0;
            }
            return r;
        }
    };
    Medium m(300);
    for (uint64_t s = 0; s < 300; ++s) m.sector(s)[0] = static_cast<uint8_t>(s);
    for (uint64_t guard : {0u, 150u}) {
        Weak source(m.bytes, guard);
        std::vector<uint8_t> ahead(250 * 512), single(250 * 512);
        readEachSector(source, 10, 250, ahead.data());
        for (uint32_t i = 0; i < 250; ++i) source.read(10 + i, 1, single.data() + i * 512);
        EXPECT_EQ(ahead, single) << "guard " << guard;
        EXPECT_EQ(ahead[(77 - 10) * 512], 77);
        EXPECT_EQ(ahead[(150 - 10) * 512], 150);  // a read starting at the guard is still made
        EXPECT_EQ(ahead[(151 - 10) * 512], guard ? 0 : 151);
    }
}
