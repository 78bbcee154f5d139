// Where the picture control puts a picture, and which road a tree label sends a
// preview down.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "preview/MediaLength.h"
#include "preview/PicturePlacement.h"
#include "preview/PreviewKind.h"

namespace kestrum {
namespace {

TEST(PicturePlacement, FitsAtNaturalSizeElseScalesDownKeepingTheProportions) {
    // Fits both ways: natural size, centred.
    EXPECT_EQ(placePicture(380, 170, 100, 80), (PicturePlace{140, 45, 100, 80}));
    // Too wide: as wide as the room inside the frame, height in proportion.
    EXPECT_EQ(placePicture(380, 170, 2000, 100), (PicturePlace{2, 76, 376, 19}));
    // Too tall, too large both ways: as tall as the room.
    EXPECT_EQ(placePicture(380, 170, 300, 400), (PicturePlace{128, 2, 125, 166}));
    EXPECT_EQ(placePicture(380, 170, 4000, 3000), (PicturePlace{80, 2, 221, 166}));
    // A circle's square stays square at any size; nothing is drawn for no picture.
    const PicturePlace square = placePicture(380, 170, 1000, 1000);
    EXPECT_EQ(square.width, square.height);
    EXPECT_EQ(placePicture(380, 170, 0, 1000), PicturePlace{});
}

TEST(PicturePlacement, EqualSizeCountsAsTooLargeAndHalvesAreTakenSeparately) {
    EXPECT_EQ(placePicture(380, 170, 380, 100), (PicturePlace{2, 36, 376, 99}));
    EXPECT_EQ(placePicture(380, 170, 100, 170), (PicturePlace{141, 2, 98, 166}));
    EXPECT_EQ(placePicture(380, 170, 380, 170), (PicturePlace{5, 2, 371, 166}));
    // W/2 - w/2 with odd w is one more than (W - w)/2.
    EXPECT_EQ(placePicture(380, 170, 100, 81).top, 45);
    EXPECT_EQ(placePicture(380, 170, 101, 80).left, 140);
}

TEST(PreviewKind, LabelsChooseTheRoadByPrefix) {
    struct Case {
        const char* label;
        PreviewKind kind;
        const char* type;
    } cases[] = {
        {"JPEG (12)", PreviewKind::Picture, "JPEG"},
        {"TIFF (3)", PreviewKind::Picture, "TIFF"},
        {"BMP (1)", PreviewKind::Picture, "BMP"},
        {"GIF (2)", PreviewKind::Picture, "GIF"},
        {"PNG (5)", PreviewKind::Picture, "PNG"},
        {"MIDI (1)", PreviewKind::Media, "MIDI"},
        {"MPEG (4)", PreviewKind::Media, "MPEG"},
        {"MP3 (2)", PreviewKind::Media, "MP3"},
        {"WAV (1)", PreviewKind::Media, "WAV"},
        {"AVI (7)", PreviewKind::Media, "AVI"},
        {"WMA (1)", PreviewKind::Media, "WMA"},
        {"CR2 (1)", PreviewKind::None, "CR2 (1)"},
        {"MP4 (2)", PreviewKind::Media, "MP4"},
        {"JP2 (1)", PreviewKind::None, "JP2 (1)"},
        {"OGG (1)", PreviewKind::Media, "OGG"},
        {"", PreviewKind::None, ""},
        {"MOV (1)", PreviewKind::Media, "MOV"},
        {"3G2 (1)", PreviewKind::Media, "3G2"},
        {"M4V (1)", PreviewKind::Media, "M4V"},
        {"AIFF (1)", PreviewKind::Media, "AIFF"},
        // A longer name that begins with a media type's is not that type.
        {"AUX (1)", PreviewKind::None, "AUX (1)"},
        {"DV (1)", PreviewKind::None, "DV (1)"},
        {"MP4X (1)", PreviewKind::None, "MP4X (1)"},
        {"HEIC (2)", PreviewKind::Picture, "HEIC"},
        {"ARW (1)", PreviewKind::Picture, "ARW"},
        {"WEBP (1)", PreviewKind::Picture, "WEBP"},
        {"M4A (3)", PreviewKind::Media, "M4A"},
        {"3GP (1)", PreviewKind::Media, "3GP"},
        {"MTS (1)", PreviewKind::Media, "MTS"},
        {"JPEG", PreviewKind::Picture, "JPEG"},
        // Every kind's shown and unshown types, the thorough-only ones among them.
        {"AVIF (1)", PreviewKind::Picture, "AVIF"},
        {"CR3 (2)", PreviewKind::Picture, "CR3"},
        {"IIQ (1)", PreviewKind::Picture, "IIQ"},
        {"NEF (4)", PreviewKind::None, "NEF (4)"},
        {"JXL (1)", PreviewKind::None, "JXL (1)"},
        {"PSD (1)", PreviewKind::None, "PSD (1)"},
        {"FLAC (1)", PreviewKind::Media, "FLAC"},
        {"AAC (2)", PreviewKind::Media, "AAC"},
        {"AMR (1)", PreviewKind::Media, "AMR"},
        {"DIVX (1)", PreviewKind::Media, "DIVX"},
        {"MXF (1)", PreviewKind::Media, "MXF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const PreviewType t = previewTypeFor(c.label);
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(t.type, c.type);
        EXPECT_EQ(isMediaLabel(c.label), c.kind == PreviewKind::Media);
    }
}

std::string padded(const test::TempDir& dir, const char* name, size_t extra) {
    std::vector<uint8_t> bytes = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
    bytes.resize(bytes.size() + extra, 0);
    const std::string path = dir.file(name);
    test::writeFile(path, bytes);
    return path;
}

TEST(MediaLength, CarvedWavMidiAndAiffAreCutToWhatTheirHeadersName) {
    test::TempDir dir;
    // 8076 bytes of WAV (RIFF size 8068) and 52 of MIDI, padded to whole sectors.
    EXPECT_EQ(declaredMediaLength(padded(dir, "tone-icrd-trailer.wav", 116)), 8076u);
    EXPECT_EQ(declaredMediaLength(padded(dir, "notes.mid", 460)), 52u);
    // Exactly as long as declared, or another format: played whole.
    EXPECT_EQ(declaredMediaLength(padded(dir, "tone.wav", 0)), std::nullopt);
    EXPECT_EQ(declaredMediaLength(padded(dir, "clip.avi", 466)), std::nullopt);
    EXPECT_EQ(declaredMediaLength(padded(dir, "tone.mp3", 100)), std::nullopt);
    EXPECT_EQ(declaredMediaLength(dir.file("absent.wav")), std::nullopt);
    // A header that claims more than there is: nothing to cut.
    std::vector<uint8_t> wav = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/tone.wav");
    wav[4] = 0xFF;
    wav[5] = 0xFF;
    test::writeFile(dir.file("long.wav"), wav);
    EXPECT_EQ(declaredMediaLength(dir.file("long.wav")), std::nullopt);
    // An AIFF always gets a length (the player streams it): its own, or the file's.
    const uint64_t aiff = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/tone.aiff").size();
    EXPECT_EQ(declaredMediaLength(padded(dir, "tone.aiff", 300)), aiff);
    EXPECT_EQ(declaredMediaLength(padded(dir, "tone.aiff", 0)), aiff);
    std::vector<uint8_t> cut = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/tone.aiff");
    cut.resize(cut.size() / 2);
    test::writeFile(dir.file("cut.aiff"), cut);
    EXPECT_EQ(declaredMediaLength(dir.file("cut.aiff")), cut.size());
}

}  // namespace
}  // namespace kestrum
