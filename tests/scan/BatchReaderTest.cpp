// The scan's batches read ahead on workers: the bytes handed over, a bad sector
// among them, and the lists of a scan of real media, against reading in place.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "TestSupport.h"
#include "scan/BatchReader.h"
#include "scan/ClassicDetector.h"
#include "scan/ThoroughDetector.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// A memory medium read from several threads, with sectors that cannot be read:
// read() zeros them and asks about each (as the sector reader does), tryRead()
// only fails.
class SharedSource final : public SectorSource {
public:
    SharedSource(std::vector<uint8_t> bytes, std::set<uint64_t> bad, bool twoThreads = true)
        : bytes_(std::move(bytes)), bad_(std::move(bad)), twoThreads_(twoThreads) {}

    int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) override {
        return copy(start, count, buffer, true);
    }
    int32_t tryRead(uint64_t start, uint32_t count, uint8_t* buffer) override {
        return copy(start, count, buffer, false);
    }
    uint64_t guardEnd() const override { return 0; }
    bool takesReadsFromTwoThreads() const override { return twoThreads_; }

    // The bytes a caller must get for [start, start + count).
    std::vector<uint8_t> expected(uint64_t start, uint32_t count) const {
        std::vector<uint8_t> out(size_t{count} * 512);
        for (uint32_t i = 0; i < count; ++i)
            if (!bad_.count(start + i) && (start + i + 1) * 512 <= bytes_.size())
                std::memcpy(out.data() + i * 512, bytes_.data() + (start + i) * 512, 512);
        return out;
    }

    std::atomic<int> asked{0};
    std::atomic<int> failedTries{0};

private:
    int32_t copy(uint64_t start, uint32_t count, uint8_t* buffer, bool asks) {
        const std::vector<uint8_t> bytes = expected(start, count);
        std::memcpy(buffer, bytes.data(), bytes.size());
        int failed = 0;
        for (uint32_t i = 0; i < count; ++i) failed += static_cast<int>(bad_.count(start + i));
        if (failed == 0) return 1;
        (asks ? asked : failedTries) += asks ? failed : 1;
        return 0;
    }

    std::vector<uint8_t> bytes_;
    std::set<uint64_t> bad_;
    bool twoThreads_;
};

std::vector<uint8_t> noise(size_t sectors, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(sectors * 512);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

bool workersRead() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

// A bad sector is the caller's to ask about, in its order: a worker never asks,
// and a bad area costs a failed try ahead per worker at most, not one per batch.
TEST(BatchReader, HandsOverWhatTheSourceHoldsWhateverTheOrderAndLeavesBadSectorsToTheCaller) {
    SharedSource source(noise(30000, 7), {2500, 3500, 4500, 5500, 6500, 25999});
    {
        BatchReader reader(source, 29500);
        std::vector<std::pair<uint64_t, uint32_t>> reads;
        for (uint64_t s = 0; s < 12000; s += 1000) reads.emplace_back(s, 1000);
        // A candidate given up (the sectors after its header again), a file stepped
        // over, a smaller batch, a way back, and the range's shortened last batch.
        reads.insert(reads.end(), {{11001, 1000},
                                   {12001, 1000},
                                   {16500, 1000},
                                   {17600, 300},
                                   {17900, 1000},
                                   {8000, 1000},
                                   {9000, 1000}});
        for (uint64_t s = 20000; s < 29000; s += 1000) reads.emplace_back(s, 1000);
        reads.emplace_back(29000, 500);
        for (const auto& [start, count] : reads) {
            const uint8_t* got = reader.read(start, count);
            ASSERT_EQ(std::memcmp(got, source.expected(start, count).data(), size_t{count} * 512),
                      0)
                << "batch at " << start;
        }
        if (workersRead()) {
            EXPECT_GT(reader.readAhead(), 12u);
        }
    }
    EXPECT_EQ(source.asked.load(), 6);
    EXPECT_LE(source.failedTries.load(), workersRead() ? 4 : 0);
}

// Real media laid out as on a card, scanned by both detectors reading ahead and
// reading in place: the same files, at the same sectors, of the same lengths.
TEST(BatchReader, AScanReadingAheadListsWhatAScanReadingInPlaceLists) {
    std::vector<uint8_t> medium;
    std::mt19937 random(11);
    for (const auto& entry : std::filesystem::directory_iterator(KESTRUM_TEST_DATA_DIR)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md" ||
            entry.path().extension() == ".map")
            continue;
        medium.resize(medium.size() + (random() % 1500 + 200) * 512);
        std::vector<uint8_t> file = readFile(entry.path().string());
        file.resize((file.size() + 511) / 512 * 512);
        medium.insert(medium.end(), file.begin(), file.end());
    }
    ASSERT_GT(medium.size(), 4000u * 512) << "no media in " << KESTRUM_TEST_DATA_DIR;
    const uint64_t sectors = medium.size() / 512;

    struct Listed {
        std::string name;
        uint64_t start;
        uint32_t count;
        uint64_t bytes;
        bool operator==(const Listed&) const = default;
    };
    const auto scan = [&](bool ahead, bool thorough) {
        SharedSource source(medium, {}, ahead);
        std::vector<SelectedType> rows;
        for (const CatalogueRow& r : catalogueRows()) rows.push_back({std::string(r.type), "2000"});
        TypeList types = buildSelection(rows, thorough);
        FoundFileList found;
        std::atomic<uint8_t> stop{0};
        struct : ResultsPage {
            void selectFirstTypeOnStop() override {}
        } page;
        const ScanJob job{types, found, source, 0, sectors, stop, page, nullptr};
        EXPECT_EQ(thorough ? runThoroughScan(job) : runClassicScan(job), 0);
        std::vector<Listed> out;
        for (const FileInfo& f : found.snapshot())
            out.push_back({f.fileName, f.startSector, f.sectorCount, f.byteLength});
        return out;
    };
    for (const bool thorough : {false, true}) {
        const std::vector<Listed> inPlace = scan(false, thorough);
        EXPECT_GT(inPlace.size(), 20u);
        EXPECT_TRUE(scan(true, thorough) == inPlace) << (thorough ? "thorough" : "classic");
    }
}

}  // namespace
