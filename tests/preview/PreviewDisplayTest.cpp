// Where the picture control puts a picture, and which road a tree label sends a
// preview down.
#include <gtest/gtest.h>

#include "preview/PicturePlacement.h"
#include "preview/PreviewKind.h"

namespace kestrum {
namespace {

TEST(PicturePlacement, TheFourCases) {
    // Fits both ways: natural size, centred.
    EXPECT_EQ(placePicture(380, 170, 100, 80), (PicturePlace{140, 45, 100, 80}));
    // Too wide only: squeezed across, natural height, centred down.
    EXPECT_EQ(placePicture(380, 170, 2000, 100), (PicturePlace{3, 35, 376, 100}));
    // Too tall only.
    EXPECT_EQ(placePicture(380, 170, 300, 400), (PicturePlace{40, 3, 300, 166}));
    // Too large both ways: one pixel in at top and left, two at right and bottom.
    EXPECT_EQ(placePicture(380, 170, 4000, 3000), (PicturePlace{1, 1, 377, 167}));
}

TEST(PicturePlacement, EqualSizeCountsAsTooLargeAndHalvesAreTakenSeparately) {
    EXPECT_EQ(placePicture(380, 170, 380, 100), (PicturePlace{3, 35, 376, 100}));
    EXPECT_EQ(placePicture(380, 170, 100, 170), (PicturePlace{140, 3, 100, 166}));
    EXPECT_EQ(placePicture(380, 170, 380, 170), (PicturePlace{1, 1, 377, 167}));
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
        {"JPEG (12)", PreviewKind::Picture, "JPEG"}, {"TIFF (3)", PreviewKind::Picture, "TIFF"},
        {"BMP (1)", PreviewKind::Picture, "BMP"},    {"GIF (2)", PreviewKind::Picture, "GIF"},
        {"PNG (5)", PreviewKind::Picture, "PNG"},    {"MIDI (1)", PreviewKind::Media, "MIDI"},
        {"MPEG (4)", PreviewKind::Media, "MPEG"},    {"MP3 (2)", PreviewKind::Media, "MP3"},
        {"WAV (1)", PreviewKind::Media, "WAV"},      {"AVI (7)", PreviewKind::Media, "AVI"},
        {"WMA (1)", PreviewKind::Media, "WMA"},      {"CR2 (1)", PreviewKind::None, "CR2 (1)"},
        {"MP4 (2)", PreviewKind::None, "MP4 (2)"},   {"JP2 (1)", PreviewKind::None, "JP2 (1)"},
        {"OGG (1)", PreviewKind::None, "OGG (1)"},   {"", PreviewKind::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const PreviewType t = previewTypeFor(c.label);
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(t.type, c.type);
        EXPECT_EQ(isMediaLabel(c.label), c.kind == PreviewKind::Media);
    }
}

}  // namespace
}  // namespace kestrum
