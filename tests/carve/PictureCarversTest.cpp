// What every picture carver must do: class into catalogue types, measure encoder
// files and real samples exactly, report a cut file partial, reject random bytes
// behind its magic.
#include <gtest/gtest.h>

#include <algorithm>

#include "ImageCarveSupport.h"
#include "carve/BmpCarver.h"
#include "carve/GifCarver.h"
#include "carve/Jp2Carver.h"
#include "carve/JpegCarver.h"
#include "carve/PngCarver.h"
#include "carve/PsdCarver.h"
#include "carve/PspCarver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;

const CarverEntry* const kPictureCarvers[] = {&jpegCarver(), &pngCarver(), &gifCarver(),
                                              &bmpCarver(),  &psdCarver(), &pspCarver(),
                                              &jp2Carver()};

TEST(PictureCarvers, TypesAreCatalogueTypesAndTheTableHasEveryFamily) {
    const auto rows = offeredRows(true);
    const auto table = carvers();
    for (const CarverEntry* e : kPictureCarvers) {
        ASSERT_FALSE(e->types.empty()) << e->family;
        for (std::string_view type : e->types) {
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const CatalogueRow& row) { return row.type == type; }))
                << e->family << ": " << type;
        }
        EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const CarverEntry& t) {
            return t.carve == e->carve;
        })) << e->family;
    }
}

struct Known {
    const CarverEntry& carver;
    const char* file;  // in the test data, or "samples:" and a shared sample's name
    bool cutInside = true;
};

TEST(PictureCarvers, FilesAreMeasuredWholeAndCutFilesArePartial) {
    const Known known[] = {
        {jpegCarver(), "jpeg-jfif.jpg"},
        {jpegCarver(), "jpeg-exif.jpg"},
        {jpegCarver(), "jpeg-dqt.jpg"},
        {jpegCarver(), "carve/jpeg-camera.jpg"},  // Exif with a thumbnail
        {jpegCarver(), "carve/jpeg-progressive.jpg"},
        {jpegCarver(), "carve/jpeg-restart.jpg"},
        {jpegCarver(), "carve/jpeg-ls.jpg"},
        {jpegCarver(), "carve/jpeg-motion-photo.jpg"},  // with its MP4
        {pngCarver(), "picture.png"},
        {pngCarver(), "carve/png-interlaced16.png"},
        {pngCarver(), "carve/png-palette.png"},
        {pngCarver(), "carve/png-animated.png"},
        {gifCarver(), "picture.gif"},
        {gifCarver(), "carve/gif-animated.gif"},
        {gifCarver(), "carve/gif-87a.gif"},
        {bmpCarver(), "picture.bmp"},
        {bmpCarver(), "carve/bmp-v5-alpha.bmp"},
        {bmpCarver(), "carve/bmp-os2.bmp"},
        {bmpCarver(), "carve/bmp-rle8.bmp"},
        {psdCarver(), "picture.psd"},
        {psdCarver(), "carve/psd-layers.psd"},
        {psdCarver(), "carve/psd-raw.psd"},
        {psdCarver(), "carve/psd-big.psb"},
        {jp2Carver(), "picture.jp2"},
        {jp2Carver(), "carve/jp2-codestream.j2k"},
        // Real files; AFCP.jpg ends with an AFCP trailer, the PSD with a Photo
        // Mechanic one.
        {jpegCarver(), "samples:exiftool-AFCP.jpg", false},  // 2/3 is in the trailer
        {jpegCarver(), "samples:exiftool-Canon.jpg"},
        {jpegCarver(), "samples:exiftool-FujiFilm.jpg"},
        {jpegCarver(), "samples:exiftool-Kodak.jpg"},
        {jpegCarver(), "samples:exiftool-Nikon.jpg"},
        {jpegCarver(), "samples:exiftool-Olympus.jpg"},
        {jpegCarver(), "samples:exiftool-Panasonic.jpg"},
        {jpegCarver(), "samples:exiftool-Sony.jpg"},
        {psdCarver(), "samples:exiftool-Photoshop.psd"},
        {pspCarver(), "samples:exiftool-PSP.psp"},
    };
    int samples = 0;
    for (const Known& k : known) {
        const std::string name = k.file;
        const bool sample = name.starts_with("samples:");
        const auto file = sample ? kestrum::test::sample(name.substr(8)) : test::dataFile(name);
        if (sample && file.empty()) continue;
        samples += sample;
        test::expectWhole(k.carver, file, k.carver.types[0], name);
        const uint64_t cut = file.size() * 2 / 3;
        if (k.cutInside) test::expectPartial(k.carver, file, cut, cut, name + " cut");
    }
    if (samples == 0) GTEST_SKIP() << "encoder files passed; no shared samples folder";
}

TEST(PictureCarvers, RandomBytesBehindTheMagicAreRejected) {
    const auto png = test::dataFile("picture.png");
    const auto psd = test::dataFile("picture.psd");
    const std::vector<uint8_t> magics[] = {
        {0xFF, 0xD8, 0xFF, 0xE1},
        {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43},
        std::vector<uint8_t>(png.begin(), png.begin() + 16),  // signature and "IHDR"
        {'G', 'I', 'F', '8', '9', 'a'},
        {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0},
        std::vector<uint8_t>(psd.begin(), psd.begin() + 26),  // a whole valid header
        std::vector<uint8_t>{'P', 'a',  'i',  'n', 't', ' ', 'S', 'h', 'o', 'p', ' ', 'P',
                             'r', 'o',  ' ',  'I', 'm', 'a', 'g', 'e', ' ', 'F', 'i', 'l',
                             'e', '\n', 0x1A, 0,   0,   0,   0,   0,   10,  0,   0,   0},
        {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A},
        {0xFF, 0x4F, 0xFF, 0x51},
    };
    for (const auto& magic : magics) {
        for (unsigned seed = 0; seed < 100; ++seed) {
            auto b = test::randomBytes(4096, seed);
            std::copy(magic.begin(), magic.end(), b.begin());
            for (const CarverEntry* e : kPictureCarvers) {
                if (!e->quick(b.data())) continue;
                EXPECT_FALSE(carveBytes(*e, b).has_value()) << e->family << " seed " << seed;
            }
        }
    }
}

}  // namespace
}  // namespace kestrum::carve
