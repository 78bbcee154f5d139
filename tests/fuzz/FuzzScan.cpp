// Fuzz target: an arbitrary medium scanned for every type. Besides the sanitizers'
// checks it asserts that the fast detector agrees with the list walk and that
// every listed file starts inside the range.
//
// Input: byte 0-1 place the medium up to 1099 sectors into the source (so that
// it meets batch edges), byte 2 holds options, the rest is the medium.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "scan/ClassicDetector.h"
#include "scan/Detection.h"
#include "scan/ScanDriver.h"

using namespace kestrum;

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_scan: %s\n", what);
    std::abort();
}

void compareDetectors(const TypeList& all, const std::vector<uint8_t>& padded) {
    TypeList walked = all;
    TypeList fast = all;
    HeaderMatcher detector(fast);
    const SectorView whole(padded.data(), padded.size(), 0);
    for (size_t j = 0; j < padded.size() / kSectorBytes; ++j) {
        const SectorView sector = whole.fromSector(j);
        char a[6] = {}, b[6] = {};
        int32_t sa = 0, sb = 0;
        const int32_t da = DetectFileType(walked, sector, a, sa);
        const int32_t db = detector.detect(sector, b, sb);
        check(da == db && std::strcmp(a, b) == 0 && sa == sb, "detector and list walk differ");
    }
    for (size_t i = 0; i < all.size(); ++i)
        check(std::memcmp(&walked[i].ends, &fast[i].ends, sizeof walked[i].ends) == 0,
              "MKV marker capture differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint64_t lead = (data[0] | uint64_t{data[1]} << 8) % 1100;
    const uint8_t options = data[2];
    const uint8_t* medium = data + 3;
    const size_t mediumSize = size - 3;

    static const TypeList kAll = test::allTypes();
    TypeList types = kAll;
    for (stExtInfo& r : types) {
        if (options & 1) r.maxSizeBytes = 2048;
        if (options & 2) r.spanLimit = 1 + r.spanLimit % 7;  // cuts and rescans on small media
    }

    std::vector<uint8_t> padded(medium, medium + mediumSize);
    padded.resize((mediumSize + 511) / 512 * 512 + 512);
    compareDetectors(types, padded);

    const uint64_t sectors = lead + (mediumSize + 511) / 512;
    const uint64_t rangeStart = (options & 4) ? lead : 0;
    const uint64_t rangeEnd = sectors + ((options >> 3) & 3);
    test::MemorySource source(medium, mediumSize, (options & 32) ? rangeEnd : 0, lead);
    FoundFileList found;
    std::atomic<uint8_t> stop{static_cast<uint8_t>((options & 64) ? 1 : 0)};
    ResultsPage page;
    size_t thumbnails = 0;
    const ScanJob job{types, found, source, rangeStart, rangeEnd, stop, page, [&](FileInfo f) {
                          check(std::atoi(f.fileName + 4) % 11 == 1, "thumbnail out of turn");
                          ++thumbnails;
                          return 1;
                      }};
    check(runClassicScan(job) == 0, "scan did not return 0");

    int64_t counted = 0;
    for (const stExtInfo& r : types) counted += r.foundCount;
    check(counted == static_cast<int64_t>(found.size()), "found counts and list disagree");
    for (const FileInfo& f : found.snapshot()) {
        check(f.startSector >= rangeStart && f.startSector < rangeEnd, "file outside the range");
        check(std::strncmp(f.fileName, "File", 4) == 0, "bad file name");
    }
    check(thumbnails <= found.size(), "more thumbnails than files");
    return 0;
}
