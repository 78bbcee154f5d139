// Reading image sources: the single image, split pieces, the range guard and the
// bad-sector question for missing files and starts beyond a file's end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "DiskTestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"

namespace kestrum {
namespace {

using test::holdsSector;
using test::holdsZeros;
using test::ReaderTest;
using test::staleBuffer;

class ReaderSingleImage : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        useImage(dir.path(), false);
    }
    int32_t read(uint64_t start, std::vector<uint8_t>& buffer) {
        return readSectors(start, static_cast<uint32_t>(buffer.size() / kSectorSize), buffer.data(),
                           "\\\\.\\PhysicalDrive0");
    }
    std::string image() const { return dir.file(kSingleImageName); }
};

TEST_F(ReaderSingleImage, DeliversTheRequestedSectors) {
    test::writePatternFile(image(), 0, 64);
    auto buffer = staleBuffer(20);
    EXPECT_EQ(read(10, buffer), 1);
    for (uint64_t i = 0; i < 20; ++i) EXPECT_TRUE(holdsSector(buffer, i, 10 + i));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSingleImage, NameIsMatchedWithoutRegardToCase) {
    test::writePatternFile(dir.file("IMAGE0.IMG"), 0, 4);
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(1, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 1));
    EXPECT_TRUE(holdsSector(buffer, 1, 2));
}

TEST_F(ReaderSingleImage, RangeGuardComparesOnlyTheStart) {
    test::writePatternFile(image(), 0, 1010);
    auto buffer = staleBuffer(4);
    EXPECT_EQ(read(1001, buffer), 1) << "rangeEnd 0 limits nothing";
    EXPECT_TRUE(holdsSector(buffer, 0, 1001));

    session().rangeEnd = 1000;
    buffer = staleBuffer(4);
    EXPECT_EQ(read(1000, buffer), 1);
    for (uint64_t i = 0; i < 4; ++i) EXPECT_TRUE(holdsSector(buffer, i, 1000 + i));

    buffer = staleBuffer(4);
    EXPECT_EQ(read(1001, buffer), 0);
    for (uint64_t i = 0; i < 4; ++i) EXPECT_TRUE(holdsZeros(buffer, i));

    // Beyond the range the source is not even looked at: a missing image asks nothing.
    std::remove(image().c_str());
    buffer = staleBuffer(1);
    EXPECT_EQ(read(5000, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSingleImage, SectorNumbersBeyondThirtyTwoBitsAreAddressed) {
    const uint64_t far = (uint64_t{1} << 32) + 3;  // 2 TiB in: a 32-bit offset would wrap
    test::writePatternAt(image(), 3, 3, 1);
    try {
        test::resizeFile(image(), (far + 8) * kSectorSize);
    } catch (const std::exception&) {
        GTEST_SKIP() << "the temporary folder cannot hold a sparse file of 2 TiB";
    }
    test::writePatternAt(image(), far, far, 2);
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(far, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, far));
    EXPECT_TRUE(holdsSector(buffer, 1, far + 1));

    // The same file read as a device.
    session().source.store(SourceSpec{});
    buffer = staleBuffer(2);
    EXPECT_EQ(readSectors(far, 2, buffer.data(), image()), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, far));
    EXPECT_TRUE(holdsSector(buffer, 1, far + 1));
}

TEST_F(ReaderSingleImage, SectorsPastTheEndOfTheFileAreZeros) {
    test::writePatternFile(image(), 0, 10);
    auto buffer = staleBuffer(4);
    EXPECT_EQ(read(8, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 8));
    EXPECT_TRUE(holdsSector(buffer, 1, 9));
    EXPECT_TRUE(holdsZeros(buffer, 2));
    EXPECT_TRUE(holdsZeros(buffer, 3));

    // A start exactly at the end is read, yields nothing and asks nothing.
    buffer = staleBuffer(2);
    EXPECT_EQ(read(10, buffer), 1);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_TRUE(holdsZeros(buffer, 1));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSingleImage, StartBeyondTheEndAsks) {
    test::writePatternFile(image(), 0, 10);
    prompts.answers = {BadSectorAnswer::Skip};
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(11, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_TRUE(holdsZeros(buffer, 1));
    EXPECT_EQ(prompts.asked, 1);

    // Retry looks once more: asked again, then zeros whatever the answer.
    prompts.answers = {BadSectorAnswer::Retry, BadSectorAnswer::Retry};
    buffer = staleBuffer(1);
    EXPECT_EQ(read(11, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_EQ(prompts.asked, 3);
}

TEST_F(ReaderSingleImage, RetryRereadsAFileThatGrewMeanwhile) {
    test::writePatternFile(image(), 0, 10);
    prompts.answers = {BadSectorAnswer::Retry};
    prompts.onAsk = [&] { test::writePatternFile(image(), 0, 20); };
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(12, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 12));
    EXPECT_TRUE(holdsSector(buffer, 1, 13));
    EXPECT_EQ(prompts.asked, 1);
}

struct MissingCase {
    BadSectorAnswer answer;
    int promptsFirstCall;   // the retry answers look once more, and ask again
    int promptsSecondCall;  // an "All" answer is never asked again
};

void PrintTo(const MissingCase& c, std::ostream* os) {
    *os << "answer " << static_cast<int>(c.answer);
}

std::string answerName(const ::testing::TestParamInfo<MissingCase>& info) {
    static const char* const names[] = {"Retry", "Skip", "RetryAll", "SkipAll"};
    return names[static_cast<int>(info.param.answer)];
}

class ReaderMissingImage : public ReaderSingleImage,
                           public ::testing::WithParamInterface<MissingCase> {};

TEST_P(ReaderMissingImage, YieldsZerosAfterAtMostOneRetry) {
    const MissingCase c = GetParam();
    prompts.answers = {c.answer, c.answer, c.answer, c.answer};
    auto buffer = staleBuffer(3);
    EXPECT_EQ(read(0, buffer), 0);
    for (uint64_t i = 0; i < 3; ++i) EXPECT_TRUE(holdsZeros(buffer, i));
    EXPECT_EQ(prompts.asked, c.promptsFirstCall);
    EXPECT_EQ(session().badSectorAnswer.load(), c.answer);

    buffer = staleBuffer(1);
    EXPECT_EQ(read(0, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_EQ(prompts.asked, c.promptsFirstCall + c.promptsSecondCall);
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, ReaderMissingImage,
                         ::testing::Values(MissingCase{BadSectorAnswer::Retry, 2, 2},
                                           MissingCase{BadSectorAnswer::Skip, 1, 1},
                                           MissingCase{BadSectorAnswer::RetryAll, 1, 0},
                                           MissingCase{BadSectorAnswer::SkipAll, 1, 0}),
                         answerName);

TEST_F(ReaderSingleImage, RetryFindsAnImageThatAppearedMeanwhile) {
    prompts.answers = {BadSectorAnswer::Retry};
    prompts.onAsk = [&] { test::writePatternFile(dir.file("image0.img"), 0, 8); };
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(3, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 3));
    EXPECT_TRUE(holdsSector(buffer, 1, 4));
    EXPECT_EQ(prompts.asked, 1);
}

// Pieces as the imaging writer names them ("Image<k>.img"), sparse: only the
// sectors the tests read are written. Contents carry the absolute sector number.
class ReaderSplitImage : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        useImage(dir.path(), true);
        const std::string piece0 = dir.file("Image0.img");
        test::writePatternAt(piece0, 0, 0, 2);
        test::writePatternAt(piece0, kPieceSectors - 10, kPieceSectors - 10, 10);
        test::truncateTo(piece0, kPieceSectors * kSectorSize);
        test::writePatternFile(dir.file("Image1.img"), kPieceSectors, 16);
    }
    int32_t read(uint64_t start, std::vector<uint8_t>& buffer) {
        return readSectors(start, static_cast<uint32_t>(buffer.size() / kSectorSize), buffer.data(),
                           "\\\\.\\PhysicalDrive0");
    }
};

TEST_F(ReaderSplitImage, ReadCrossingIntoTheNextPieceKeepsTheOrder) {
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(kPieceSectors - 1, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, kPieceSectors - 1));
    EXPECT_TRUE(holdsSector(buffer, 1, kPieceSectors));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSplitImage, StartOfAPieceIsReadFromThatPiece) {
    auto buffer = staleBuffer(3);
    EXPECT_EQ(read(kPieceSectors, buffer), 1);
    for (uint64_t i = 0; i < 3; ++i) EXPECT_TRUE(holdsSector(buffer, i, kPieceSectors + i));
}

TEST_F(ReaderSplitImage, RequestEndingAtTheBoundaryNeedsNoNextPiece) {
    std::remove(dir.file("Image1.img").c_str());
    auto buffer = staleBuffer(10);
    EXPECT_EQ(read(kPieceSectors - 10, buffer), 1);
    for (uint64_t i = 0; i < 10; ++i) EXPECT_TRUE(holdsSector(buffer, i, kPieceSectors - 10 + i));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSplitImage, MissingNextPieceLeavesZerosWithoutAsking) {
    std::remove(dir.file("Image1.img").c_str());
    auto buffer = staleBuffer(4);
    EXPECT_EQ(read(kPieceSectors - 2, buffer), 1) << "the first part's result stands";
    EXPECT_TRUE(holdsSector(buffer, 0, kPieceSectors - 2));
    EXPECT_TRUE(holdsSector(buffer, 1, kPieceSectors - 1));
    EXPECT_TRUE(holdsZeros(buffer, 2));
    EXPECT_TRUE(holdsZeros(buffer, 3));
    EXPECT_EQ(prompts.asked, 0);
}

TEST_F(ReaderSplitImage, MissingPieceAfterRetryAllIsLookedForOnceMoreWithoutAsking) {
    const uint64_t piece2 = 2 * kPieceSectors;
    prompts.answers = {BadSectorAnswer::RetryAll};
    // Appears while the first question is open: found by the one further look.
    prompts.onAsk = [&] { test::writePatternFile(dir.file("Image2.img"), piece2, 4); };
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(piece2 + 1, buffer), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, piece2 + 1));
    EXPECT_TRUE(holdsSector(buffer, 1, piece2 + 2));

    buffer = staleBuffer(2);
    EXPECT_EQ(read(3 * kPieceSectors, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_TRUE(holdsZeros(buffer, 1));
    EXPECT_EQ(prompts.asked, 1);
}

TEST_F(ReaderSplitImage, MissingPieceAfterSkipAllIsZerosWithoutAsking) {
    session().badSectorAnswer = BadSectorAnswer::SkipAll;
    prompts.onAsk = [&] { test::writePatternFile(dir.file("Image2.img"), 2 * kPieceSectors, 4); };
    auto buffer = staleBuffer(2);
    EXPECT_EQ(read(2 * kPieceSectors, buffer), 0);
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_TRUE(holdsZeros(buffer, 1));
    EXPECT_EQ(prompts.asked, 0);
}

// A reader opened on a spec reads that source, whatever the session names: two
// images side by side, each sized and guarded by itself.
TEST_F(ReaderTest, AnOpenedSourceReadsItsOwnSpecWhateverTheSessionNames) {
    test::TempDir folder, other;
    useImage(other.path(), false);  // empty: the session's source reads as zeros
    test::writePatternFile(folder.file("Image0.img"), 0, 64);
    const std::string named = dir.file("card.dd");
    test::writePatternFile(named, 1000, 10);
    test::truncateTo(named, 10 * kSectorSize + 1);

    const SectorReader inFolder = openSource(SourceSpec::imageFolder(folder.path(), false));
    const SectorReader inFile = openSource(SourceSpec::imageFile(named), 3);
    auto buffer = staleBuffer(2);
    EXPECT_EQ(inFolder.read(5, 2, buffer.data()), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 5));
    EXPECT_TRUE(holdsSector(buffer, 1, 6));
    EXPECT_EQ(inFile.read(2, 2, buffer.data()), 1);
    EXPECT_TRUE(holdsSector(buffer, 0, 1002));
    EXPECT_TRUE(holdsSector(buffer, 1, 1003));
    EXPECT_EQ(inFile.read(4, 1, buffer.data()), 0) << "past its own guard";
    EXPECT_TRUE(holdsZeros(buffer, 0));
    EXPECT_EQ(prompts.asked, 0);

    EXPECT_EQ(inFolder.sectorCount(), std::optional<uint64_t>(64));
    EXPECT_EQ(inFile.sectorCount(), std::optional<uint64_t>(11)) << "a last partial sector counts";
    EXPECT_EQ(inFolder.openProblem("x"), "");
    const SectorReader missing = openSource(SourceSpec::imageFolder(other.path(), true));
    EXPECT_EQ(missing.sectorCount(), std::nullopt);
    EXPECT_NE(missing.openProblem("x").find(other.file("image0.img")), std::string::npos)
        << missing.openProblem("x");
}

}  // namespace
}  // namespace kestrum
