// The image files as both imaging jobs write them: bytes across a piece end, a
// fresh image that replaces what is there without writing through it, a
// continued one that keeps it, a piece closed and opened again, and the
// leftovers of a longer image.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"
#include "imaging/PieceWriter.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

std::string readAt(const std::string& path, uint64_t offset, size_t size) {
    std::string bytes(size, '\0');
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    ::fseeko(f, static_cast<off_t>(offset), SEEK_SET);
    bytes.resize(std::fread(bytes.data(), 1, size, f));
    std::fclose(f);
    return bytes;
}

TEST(PieceWriter, WritesAcrossAPieceEndAndReopensWithoutLosingBytes) {
    test::TempDir dir;
    // One piece open at a time: going back to piece 0 closes piece 1 and opens 0 again.
    PieceWriter pieces(ImageLayout(dir.path(), true, kPieceBytes + 8),
                       {.fresh = true, .openMost = 1, .durable = false});
    std::string why;
    ASSERT_TRUE(pieces.write(kPieceBytes - 4, "abcdefgh", 8, why)) << why;
    EXPECT_EQ(pieces.lastWritten(), dir.file("Image1.img"));
    ASSERT_TRUE(pieces.write(0, "head", 4, why)) << why;
    ASSERT_TRUE(pieces.closeAll(why)) << why;
    EXPECT_EQ(readAt(dir.file("Image0.img"), kPieceBytes - 4, 4), "abcd");
    EXPECT_EQ(readAt(dir.file("Image0.img"), 0, 4), "head");
    EXPECT_EQ(fs::file_size(dir.file("Image1.img")), 4u);
    EXPECT_EQ(readAt(dir.file("Image1.img"), 0, 4), "efgh");
}

TEST(PieceWriter, FreshReplacesWhatIsThereKeptGoesOnInIt) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::TempDir dir;
    test::writeFile(dir.file("target"), "not to be touched");
    ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("Image0.img").c_str()), 0);
    test::writeFile(dir.file("Image1.img"), "read-only leftover");
    ::chmod(dir.file("Image1.img").c_str(), 0444);
    std::string why;
    {
        PieceWriter fresh(ImageLayout(dir.path(), true, kPieceBytes + 2), {.fresh = true});
        ASSERT_TRUE(fresh.write(0, "AA", 2, why)) << why;
        ASSERT_TRUE(fresh.write(kPieceBytes, "BB", 2, why)) << why;
        ASSERT_TRUE(fresh.closeAll(why)) << why;
    }
    EXPECT_EQ(readAt(dir.file("target"), 0, 64), "not to be touched");
    EXPECT_FALSE(fs::is_symlink(dir.file("Image0.img")));
    EXPECT_EQ(readAt(dir.file("Image1.img"), 0, 64), "BB");

    // A continued image: prepare sets each piece to its length and keeps its bytes.
    PieceWriter kept(ImageLayout(dir.path(), true, kPieceBytes + 4),
                     {.fresh = false, .openMost = 8, .durable = true});
    ASSERT_TRUE(kept.prepare(why)) << why;
    ASSERT_TRUE(kept.write(kPieceBytes + 2, "CC", 2, why)) << why;
    ASSERT_TRUE(kept.closeAll(why)) << why;
    EXPECT_EQ(fs::file_size(dir.file("Image0.img")), kPieceBytes);
    EXPECT_EQ(readAt(dir.file("Image0.img"), 0, 2), "AA");
    EXPECT_EQ(readAt(dir.file("Image1.img"), 0, 64), "BBCC");
#endif
}

TEST(PieceWriter, FailuresNameTheirPiece) {
    test::TempDir dir;
    std::string why;
    PieceWriter refused(ImageLayout(dir.path(), true, 16), {});
    refused.beforeCreate = [](uint64_t, std::string& reason) {
        reason = "kept by the caller";
        return false;
    };
    EXPECT_FALSE(refused.write(0, "x", 1, why));
    EXPECT_EQ(why, "kept by the caller");
    EXPECT_FALSE(fs::exists(dir.file("Image0.img")));

    PieceWriter nowhere(ImageLayout(dir.file("missing"), false, 16), {});
    EXPECT_FALSE(nowhere.write(0, "x", 1, why));
    EXPECT_EQ(why, "Could not create " + dir.file("missing") + test::kSeparator + "Image0.img" +
                       ": No such file or directory");
}

TEST(PieceWriter, LeftoversGoInEverySpellingUpToTheFirstGap) {
    test::TempDir dir;
    for (const char* name : {"Image2.img", "image2.IMG", "IMAGE3.img", "Image5.img"})
        test::writeFile(dir.file(name), "old");
    const ImageLayout layout(dir.path(), true, kPieceBytes * 2);
    EXPECT_TRUE(removeLeftoverPieces(layout, 2, {}));
    for (const char* name : {"Image2.img", "image2.IMG", "IMAGE3.img"})
        EXPECT_FALSE(fs::exists(dir.file(name))) << name;
    EXPECT_TRUE(fs::exists(dir.file("Image5.img"))) << "beyond a gap: not this image's";

    test::writeFile(dir.file("Image2.img"), "the source");
    test::writeFile(dir.file("Image3.img"), "after it");
    EXPECT_FALSE(removeLeftoverPieces(
        layout, 2, [&](const std::string& piece) { return piece != dir.file("Image2.img"); }));
    EXPECT_TRUE(fs::exists(dir.file("Image2.img")));
    EXPECT_TRUE(fs::exists(dir.file("Image3.img")));
}

}  // namespace
}  // namespace kestrum
