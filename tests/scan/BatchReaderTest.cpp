// Reading the next batch ahead on a second thread must not change what a scan
// finds: resumes after rejected and cut files, short batches at the range's end.
#include <gtest/gtest.h>

#include <random>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "scan/BatchReader.h"
#include "scan/ScanDriver.h"

namespace kestrum::test {
namespace {

class ReadAheadSource : public MemorySource {
public:
    using MemorySource::MemorySource;
    bool readsAhead() const override { return true; }
};

std::vector<std::tuple<std::string, uint64_t, uint32_t>> scanAll(SectorSource& source,
                                                                 uint64_t start, uint64_t end) {
    TypeList types = typesOf({"BMP", "JPEG", "PNG", "WAV"}, "16");
    FoundFileList found;
    std::atomic<uint8_t> stop{0};
    ResultsPage page;
    ScanThreadProc({types, found, source, start, end, stop, page, nullptr});
    std::vector<std::tuple<std::string, uint64_t, uint32_t>> out;
    for (const FileInfo& f : found.snapshot())
        out.emplace_back(f.fileName, f.startSector, f.sectorCount);
    return out;
}

TEST(BatchReader, ReadingAheadFindsExactlyWhatReadingInTurnFinds) {
    std::mt19937 random(3);
    for (int round = 0; round < 6; ++round) {
        Medium m(30000);
        for (auto& b : m.bytes) b = static_cast<uint8_t>(0x20 + random() % 0x40);
        for (int k = 0; k < 60; ++k) {
            const uint64_t s = random() % 30000;
            switch (random() % 5) {
                case 0:
                    m.put(s, 0, {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'});
                    break;
                case 1:
                    m.put(s, random() % 510, {0xFF, 0xD9});
                    break;
                case 2:
                    m.put(s, 0, {'B', 'M'}).putLE32(s, 2, random() % 3 ? 5000 : 0);
                    break;
                case 3:
                    m.put(s, 0, {0x89, 'P', 'N', 'G'});
                    break;  // no end: cut at 16 KB
                default:
                    m.put(s, 0, "RIFF").put(s, 8, "WAVE");
                    break;
            }
        }
        const uint64_t start = random() % 500, end = 30000 - random() % 700;
        MemorySource plain(m.bytes);
        ReadAheadSource ahead(m.bytes);
        const auto expected = scanAll(plain, start, end);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(scanAll(ahead, start, end), expected) << "round " << round;
    }
}

TEST(BatchReader, ABatchNobodyTakesIsDroppedForTheOneAskedFor) {
    Medium m(3000);
    for (uint64_t s = 0; s < 3000; ++s) m.putLE32(s, 0, static_cast<uint32_t>(s));
    ReadAheadSource source(m.bytes);
    BatchReader reader(source, 1000 * 512);
    std::vector<uint8_t> buffer(1000 * 512);
    reader.readAhead(1000, 1000);
    reader.read(7, 1000, buffer);  // the scan resumed elsewhere
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(buffer[512], 8);
    reader.readAhead(2000, 1000);
    reader.read(2000, 1000, buffer);
    EXPECT_EQ(buffer[0], 2000 % 256);
    EXPECT_EQ(buffer[999 * 512 + 1], 2999 / 256);
}

}  // namespace
}  // namespace kestrum::test
