// Fuzz target: every carver on an arbitrary medium through the bounded reader,
// then the thorough scan over it. Besides the sanitizers' checks it asserts what
// a carver promises (a length inside its limit, a type of its own) and what the
// scan promises (files in the range, in order, never one inside another).
//
// Input: byte 0-1 place the medium up to 1099 sectors into the source (so that
// it meets batch edges), byte 2 holds options, the rest is the medium.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MemorySource.h"
#include "carve/Carver.h"
#include "carve/Join.h"
#include "filetypes/Catalogue.h"
#include "scan/ThoroughDetector.h"

using namespace kestrum;

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_carve: %s\n", what);
    std::abort();
}

void carveEach(const uint8_t* medium, size_t size, uint64_t limit) {
    std::vector<uint8_t> first(512);
    std::memcpy(first.data(), medium, std::min<size_t>(size, 512));
    for (const carve::CarverEntry& c : carve::carvers()) {
        if (!c.quick(first.data())) continue;
        carve::MemoryReader r(medium, size, limit);
        const auto found = c.carve(r);
        if (!found) continue;
        check(found->length > 0 && found->length <= r.limit(), "length outside the limit");
        check(std::find(c.types.begin(), c.types.end(), found->type) != c.types.end(),
              "type not of the family");
    }
}

// The joins read the medium as a JPEG or MP4 broken after its second sector and
// continued from its fourth; whatever they return must lie on the medium.
void joinEach(const uint8_t* medium, size_t size) {
    carve::MemoryReader r(medium, size);
    const carve::JpegDecode d = carve::decodeJpeg(r);
    check(!d.clean || d.end <= size, "decode ends past the medium");
    const uint64_t trailer = carve::jpegTrailerEnd(r, std::min<size_t>(size, 700));
    check(trailer >= std::min<size_t>(size, 700) && trailer <= size, "trailer off the medium");
    const carve::JoinRequest q{0, 1024, 4, 0};
    if (const auto j = carve::joinJpeg(r, q))
        check(j->joinSector >= 4 && j->length - j->firstPieceBytes <= size - j->joinSector * 512,
              "JPEG join off the medium");
    const carve::Mp4Join m = carve::checkMp4Join(r, q);
    if (m.kind == carve::Mp4Join::Kind::kJoined)
        check(m.join.joinSector >= 4 && m.join.length >= m.join.firstPieceBytes,
              "MP4 join off the medium");
}

TypeList thoroughTypes() {
    std::vector<SelectedType> rows;
    for (const CatalogueRow& r : offeredRows(true)) rows.push_back({std::string(r.type), "2000"});
    return buildSelection(rows, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint64_t lead = (data[0] | uint64_t{data[1]} << 8) % 1100;
    const uint8_t options = data[2];
    const uint8_t* medium = data + 3;
    const size_t mediumSize = size - 3;

    // The whole input, and a limit inside it as a range end or a ceiling gives.
    carveEach(medium, mediumSize, mediumSize);
    carveEach(medium, mediumSize, mediumSize / 2 + options);
    if (options & 2) joinEach(medium, mediumSize);

    static const TypeList kAll = thoroughTypes();
    TypeList types = kAll;
    if (options & 1)
        for (stExtInfo& r : types) r.maxSizeBytes = 2048;  // a ceiling the user set
    const uint64_t sectors = lead + (mediumSize + 511) / 512;
    const uint64_t rangeStart = (options & 4) ? lead : 0;
    // From one sector short of the medium (files cut by the range) to two past it.
    const uint64_t shorter = std::min<uint64_t>((options >> 3) & 3, sectors + 1);
    const uint64_t rangeEnd = std::max<uint64_t>(sectors + 2 - shorter, rangeStart + 1);
    test::MemorySource source(medium, mediumSize, (options & 32) ? rangeEnd : 0, lead);
    FoundFileList found;
    std::atomic<uint8_t> stop{static_cast<uint8_t>((options & 64) ? 1 : 0)};
    ResultsPage page;
    const ScanJob job{types, found, source, rangeStart, rangeEnd, stop, page, [&](FileInfo f) {
                          check(std::atoi(f.fileName + 4) % 11 == 1, "thumbnail out of turn");
                          return 1;
                      }};
    check(runThoroughScan(job) == 0, "scan did not return 0");

    int64_t counted = 0;
    for (const stExtInfo& r : types) counted += r.foundCount;
    check(counted == static_cast<int64_t>(found.size()), "found counts and list disagree");
    uint64_t next = rangeStart;
    for (const FileInfo& f : found.snapshot()) {
        check(f.startSector >= next, "a file inside another or out of order");
        check(f.sectorCount > 0 && f.startSector + f.sectorCount <= rangeEnd,
              "file outside the range");
        check(f.byteLength > uint64_t{f.sectorCount - 1} * 512 &&
                  f.byteLength <= uint64_t{f.sectorCount} * 512,
              "byte length and sector count disagree");
        check(!(options & 1) || f.byteLength <= 2048, "file beyond the ceiling");
        check(std::strncmp(f.fileName, "File", 4) == 0, "bad file name");
        next = f.startSector + f.sectorCount;
    }
    return 0;
}
