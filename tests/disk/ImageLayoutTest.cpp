// Where the bytes of an image lie among its files: piece names and their case,
// which piece holds a byte at the piece ends, how many files an image takes,
// and how the pieces already in a folder are counted.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "disk/ImageLayout.h"

namespace kestrum {
namespace {

TEST(ImageLayout, PlacesEveryByteInItsPieceAcrossPieceEnds) {
    const ImageLayout pieces("/x", true, 2 * kPieceBytes + 1);
    const struct {
        uint64_t byte, piece, offset, room;
    } cases[] = {
        {0, 0, 0, kPieceBytes},
        {kPieceBytes - 1, 0, kPieceBytes - 1, 1},
        {kPieceBytes, 1, 0, kPieceBytes},
        {2 * kPieceBytes, 2, 0, kPieceBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byte);
        const PiecePlace place = pieces.placeOf(c.byte);
        EXPECT_EQ(place.piece, c.piece);
        EXPECT_EQ(place.offset, c.offset);
        EXPECT_EQ(place.room, c.room);
    }
    // One file holds every byte, however far.
    const ImageLayout single("/x", false, 3 * kPieceBytes);
    EXPECT_EQ(single.placeOf(2 * kPieceBytes + 7).piece, 0u);
    EXPECT_EQ(single.placeOf(2 * kPieceBytes + 7).offset, 2 * kPieceBytes + 7);
}

TEST(ImageLayout, CountsTheFilesAnImageIsWrittenAs) {
    EXPECT_EQ(ImageLayout("/x", true, 0).pieceCount(), 1u);  // an empty image is still a file
    EXPECT_EQ(ImageLayout("/x", true, kPieceBytes).pieceCount(), 1u);
    const ImageLayout three("/x", true, 2 * kPieceBytes + 512);
    EXPECT_EQ(three.pieceCount(), 3u);
    EXPECT_EQ(three.pieceBytes(1), kPieceBytes);
    EXPECT_EQ(three.pieceBytes(2), 512u);
    EXPECT_EQ(three.pieceBytes(3), 0u);
    const ImageLayout single("/x", false, 2 * kPieceBytes + 512);
    EXPECT_EQ(single.pieceCount(), 1u);
    EXPECT_EQ(single.pieceBytes(0), 2 * kPieceBytes + 512);
    EXPECT_EQ(single.piecePath(0), std::string("/x") + test::kSeparator + "Image0.img");
    EXPECT_EQ(three.piecePath(12), std::string("/x") + test::kSeparator + "Image12.img");
}

TEST(ImageLayout, TellsPieceNamesInAnyCase) {
    for (const char* name : {"Image0.img", "image12.IMG", "IMAGE3.img"})
        EXPECT_TRUE(ImageLayout::isPieceName(name)) << name;
    for (const char* name :
         {"Image0.map", "image.img", "Image1a.img", "myImage0.img", "Image-1.img"})
        EXPECT_FALSE(ImageLayout::isPieceName(name)) << name;
}

TEST(ImageLayout, CountsPiecesInARowWhateverTheirCase) {
    test::TempDir dir;
    test::writeFile(dir.file("Image0.img"), std::string(1000, 'a'));
    test::writeFile(dir.file("image1.IMG"), std::string(24, 'b'));
    test::writeFile(dir.file("Image3.img"), "after a gap: not part of the image");
    const PiecesFound found = ImageLayout::countPieces(dir.path());
    ASSERT_EQ(found.count(), 2);
    EXPECT_EQ(test::caseFolded(found.paths[1]), test::caseFolded(dir.file("image1.IMG")));
    EXPECT_EQ(found.totalBytes, 1024u);
    const ImageLayout layout(dir.path(), true);
    EXPECT_EQ(test::caseFolded(layout.findPiece(1).value_or("-")),
              test::caseFolded(dir.file("image1.IMG")));
    EXPECT_FALSE(layout.findPiece(2));
    EXPECT_EQ(ImageLayout::countPieces(dir.file("missing")).count(), 0);
}

}  // namespace
}  // namespace kestrum
