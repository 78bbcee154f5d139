// The preview copy: exact sizes, leftovers and planted links in the temporary
// folder, the thumbnail hand-over to the results page, and short writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "../saving/IoTestSupport.h"
#include "preview/PreviewCopy.h"
#include "scan/ResultsPage.h"

namespace kestrum {
namespace {
namespace fs = std::filesystem;
using test::expectedSectors;
using test::readFile;

FileInfo record(const char* ext, uint64_t start, uint32_t count) {
    FileInfo f;
    std::snprintf(f.extName, sizeof f.extName, "%s", ext);
    std::snprintf(f.fileName, sizeof f.fileName, "File1.%s", ext);
    f.startSector = start;
    f.sectorCount = count;
    return f;
}

// The variable that names the private temporary folder's parent.
#ifdef _WIN32
constexpr const char* kRuntimeVariable = "TMP";
#else
constexpr const char* kRuntimeVariable = "XDG_RUNTIME_DIR";
#endif

// Sends the private temporary folder into a scratch folder for the test.
class PreviewTest : public ::testing::Test {
protected:
    PreviewTest() {
        if (const char* r = std::getenv(kRuntimeVariable)) saved_ = r;
        ::setenv(kRuntimeVariable, runtime_.path().c_str(), 1);
        session().resultsPage.store(&page);
    }
    ~PreviewTest() override {
        session().resultsPage.store(nullptr);
        if (saved_)
            ::setenv(kRuntimeVariable, saved_->c_str(), 1);
        else
            ::unsetenv(kRuntimeVariable);
    }

    test::TempDir runtime_;
    std::optional<std::string> saved_;
    test::SourceImage source{64};
    ResultsPage page;
};

TEST_F(PreviewTest, CopyHoldsExactlyTheRecordsSectors) {
    for (uint32_t count : {0u, 7u, 8u, 10u}) {
        SCOPED_TRACE(count);
        const std::string path = tempPreviewPath("JPEG");
        EXPECT_EQ(path.rfind(runtime_.path(), 0), 0u);
        bool createFailed = true;
        EXPECT_EQ(copyFoundFile(record("JPEG", 5, count), path, &createFailed), 1);
        EXPECT_FALSE(createFailed);
        EXPECT_EQ(readFile(path), expectedSectors(5, count));
        EXPECT_EQ(fs::file_size(path), count * 512u);
    }
    // An exact length (thorough detection) ends the copy inside the last sector.
    FileInfo exact = record("JPEG", 5, 10);
    exact.byteLength = 9 * 512 + 3;
    const std::string path = tempPreviewPath("JPEG");
    EXPECT_EQ(copyFoundFile(exact, path), 1);
    auto expected = expectedSectors(5, 10);
    expected.resize(9 * 512 + 3);
    EXPECT_EQ(readFile(path), expected);
    // A joined file: its first piece, then the rest from where it continues.
    FileInfo joined = record("JPEG", 5, 12);
    joined.firstPieceBytes = 9 * 512;
    joined.joinSector = 40;
    joined.byteLength = 9 * 512 + 1500;
    EXPECT_EQ(copyFoundFile(joined, path), 1);
    expected = expectedSectors(5, 9);
    const auto rest = expectedSectors(40, 3);
    expected.insert(expected.end(), rest.begin(), rest.begin() + 1500);
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(PreviewTest, LeftoversAndPlantedLinksAreReplacedNotWrittenThrough) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    const std::string png = tempPreviewPath("PNG");
    test::writeFile(png, std::vector<uint8_t>(9000, 0xAA));
    ::chmod(png.c_str(), 0444);
    EXPECT_EQ(ExtractThumbnail(record("PNG", 3, 4)), 1);
    EXPECT_EQ(readFile(png), expectedSectors(3, 4));

    page.previewReady.store(0);
    const std::string victim = runtime_.file("victim");
    test::writeFile(victim, std::string("not yours"));
    const std::string gif = tempPreviewPath("GIF");
    fs::create_symlink(victim, gif);
    EXPECT_EQ(ExtractThumbnail(record("GIF", 0, 2)), 1);
    EXPECT_FALSE(fs::is_symlink(gif));
    EXPECT_EQ(readFile(gif), expectedSectors(0, 2));
    const auto kept = readFile(victim);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "not yours");
#endif
}

TEST_F(PreviewTest, ThumbnailIsNeverDroppedAndAlwaysWhole) {
    const std::string jpeg = tempPreviewPath("JPEG");
    EXPECT_EQ(ExtractThumbnail(record("JPEG", 0, 8)), 1);
    EXPECT_EQ(page.previewReady.load(), 1);
    EXPECT_EQ(page.tempPathBuffer.load(), jpeg);

    // Not yet taken by the page: the newer thumbnail takes its place all the same.
    EXPECT_EQ(ExtractThumbnail(record("JPEG", 16, 8)), 1);
    EXPECT_EQ(readFile(jpeg), expectedSectors(16, 8));
    EXPECT_EQ(page.previewReady.load(), 1);

    page.previewReady.store(0);
    thumbnailBusy.store(1);
    EXPECT_EQ(ExtractThumbnail(record("JPEG", 0, 8)), 0);
    EXPECT_EQ(readFile(jpeg), expectedSectors(16, 8));
    EXPECT_EQ(page.previewReady.load(), 0);
    thumbnailBusy.store(0);

    // The page picks thumbnails up while the scan writes more: every look at the
    // file finds a whole one.
    constexpr uint32_t kSectors = 4000;
    test::SourceImage longer(kSectors + 8);
    fs::remove(jpeg);
    std::atomic<bool> written{false};
    std::thread scan([&] {
        for (int i = 0; i < 20; ++i) ExtractThumbnail(record("JPEG", i % 2 ? 0 : 8, kSectors));
        written = true;
    });
    int looks = 0, torn = 0;
    while (!written) {
        page.previewReady.store(0);  // taken, as the page's tick does
        std::error_code ec;
        const auto size = fs::file_size(jpeg, ec);
        if (ec) continue;
        ++looks;
        if (size != kSectors * 512u) ++torn;
    }
    scan.join();
    EXPECT_GT(looks, 0);
    EXPECT_EQ(torn, 0) << "of " << looks << " looks";
    EXPECT_EQ(readFile(jpeg), expectedSectors(0, kSectors));
    EXPECT_FALSE(fs::exists(jpeg + ".part"));
    EXPECT_EQ(thumbnailBusy.load(), 0);
}

TEST_F(PreviewTest, ShortWriteGivesZero) {
    KESTRUM_LINUX_ONLY("a file size limit (setrlimit in a forked child)");
#ifndef _WIN32
    const std::string path = tempPreviewPath("BMP");
    const std::string out = test::runWithFileSizeLimit(5000, [&] {
        bool createFailed = true;
        const int result = copyFoundFile(record("BMP", 0, 17), path, &createFailed);
        return std::to_string(result) + (createFailed ? " create" : " write");
    });
    EXPECT_EQ(out, "0 write");
    EXPECT_EQ(fs::file_size(path), 5000u);
#endif
}

TEST_F(PreviewTest, ExitCleanUpRemovesOnlyPreviewFiles) {
    for (const char* type : {"JPEG", "WAV"})
        test::writeFile(tempPreviewPath(type), std::string("x"));
    const std::string other = tempPreviewPath("CR2");
    test::writeFile(other, std::string("x"));
    RemoveTempPreviews();
    EXPECT_FALSE(fs::exists(tempPreviewPath("JPEG")));
    EXPECT_FALSE(fs::exists(tempPreviewPath("WAV")));
    EXPECT_TRUE(fs::exists(other));

    // Every type the results page previews leaves its copy there, the types a
    // thorough scan adds and their half-written thumbnails too.
    for (const char* type : {"MP4", "MKV", "OGG", "HEIC", "WEBP", "CR3", "FLAC", "MTS"}) {
        test::writeFile(tempPreviewPath(type), std::string("x"));
        test::writeFile(tempPreviewPath(type) + ".part", std::string("x"));
    }
    RemoveTempPreviews();
    for (const char* type : {"MP4", "MKV", "OGG", "HEIC", "WEBP", "CR3", "FLAC", "MTS"}) {
        EXPECT_FALSE(fs::exists(tempPreviewPath(type))) << type;
        EXPECT_FALSE(fs::exists(tempPreviewPath(type) + ".part")) << type;
    }
    EXPECT_TRUE(fs::exists(other));
}

}  // namespace
}  // namespace kestrum
