// Checks the rendered skin as the windows will load it: every picture by its name, 24-bit,
// key colours exact with no edge fading into them, the animation, icons and help links.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kKeyNormal{2, 2, 2};
constexpr Rgb kKeyHover{189, 230, 231};
constexpr Rgb kKeyChoice{255, 255, 255};
constexpr Rgb kKeySplash{255, 0, 240};

struct Picture {
    const char* name;
    int width, height;
    std::optional<Rgb> key;
};

// The names the windows load and the sizes of the controls that show them (dialog units
// times 1.5 across and 1.625 down).
const std::vector<Picture>& pictures() {
    static const std::vector<Picture> all = {
        {"gui2.bmp", 675, 512, {}},
        {"guim.bmp", 675, 512, {}},
        {"Msgbox.bmp", 480, 300, {}},
        {"About.bmp", 450, 301, {}},
        {"FrontV.bmp", 520, 320, kKeySplash},
        {"Preview.bmp", 372, 160, {}},
        {"NoPreview.bmp", 372, 160, {}},
        {"SelectFile.bmp", 372, 160, {}},
        {"Corrpted.bmp", 372, 160, {}},
        {"THelp.bmp", 57, 49, kKeyNormal},
        {"THelpA.bmp", 57, 49, kKeyHover},
        {"TAboutUs.bmp", 57, 49, kKeyNormal},
        {"TAboutUsA.bmp", 57, 49, kKeyHover},
        {"TExit.bmp", 57, 49, kKeyNormal},
        {"TExitA.bmp", 57, 49, kKeyHover},
        {"TSave.bmp", 57, 49, kKeyNormal},
        {"TSaveA.bmp", 57, 49, kKeyHover},
        {"TSaveD.bmp", 57, 49, {}},
        {"Next.bmp", 53, 54, kKeyNormal},
        {"NextA.bmp", 53, 54, kKeyHover},
        {"NextD.bmp", 53, 54, {}},
        {"Back.bmp", 36, 36, kKeyNormal},
        {"BackA.bmp", 36, 36, kKeyHover},
        {"Start.bmp", 53, 54, kKeyNormal},
        {"StartA.bmp", 53, 54, kKeyHover},
        {"Stop.bmp", 53, 54, kKeyNormal},
        {"StopA.bmp", 53, 54, kKeyHover},
        {"Save.bmp", 53, 54, kKeyNormal},
        {"SaveA.bmp", 53, 54, kKeyHover},
        {"DigitalMedia.bmp", 180, 195, kKeyChoice},
        {"DigitalMediaA.bmp", 180, 195, kKeyHover},
        {"ImageCreation.bmp", 180, 195, kKeyChoice},
        {"ImageCreationA.bmp", 180, 195, kKeyHover},
    };
    return all;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le(const std::vector<uint8_t>& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | d[at + i];
    return v;
}
uint32_t be32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}

struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top row first
    Rgb at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Only what the windows accept: an uncompressed 24-bit Windows 3 bitmap.
std::optional<Image> loadBmp24(const fs::path& path, std::string* why) {
    const auto d = readFile(path);
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return *why = "not a BMP", std::nullopt;
    if (le(d, 14, 4) != 40) return *why = "not a Windows 3 (BMP3) header", std::nullopt;
    if (le(d, 28, 2) != 24) return *why = "not 24 bits per pixel", std::nullopt;
    if (le(d, 30, 4) != 0) return *why = "compressed or bit fields", std::nullopt;
    Image img;
    img.width = int32_t(le(d, 18, 4));
    const int32_t h = int32_t(le(d, 22, 4));
    img.height = h < 0 ? -h : h;
    const size_t offset = le(d, 10, 4), stride = (size_t(img.width) * 3 + 3) / 4 * 4;
    if (offset + stride * img.height > d.size()) return *why = "pixel data cut short", std::nullopt;
    for (int y = 0; y < img.height; ++y) {
        const size_t row = offset + stride * (h < 0 ? y : img.height - 1 - y);
        for (int x = 0; x < img.width; ++x)
            img.pixels.push_back({d[row + x * 3 + 2], d[row + x * 3 + 1], d[row + x * 3]});
    }
    return img;
}

int distance(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

std::string text(Rgb c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

Image loadPicture(const std::string& name) {
    std::string why;
    auto img = loadBmp24(fs::path(KESTRUM_DATA_DIR) / name, &why);
    if (!img) ADD_FAILURE() << name << ": " << why;
    return img.value_or(Image{});
}

// Pixels that are neither the key nor the picture but a faint mix of both: what anti-aliasing
// against the key colour leaves, a halo once the key is cut out.
int fringePixels(const Image& img, Rgb key) {
    int found = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const Rgb c = img.at(x, y);
            if (c == key || distance(c, key) > 24) continue;
            const bool besideKey = (x > 0 && img.at(x - 1, y) == key) ||
                                   (x + 1 < img.width && img.at(x + 1, y) == key) ||
                                   (y > 0 && img.at(x, y - 1) == key) ||
                                   (y + 1 < img.height && img.at(x, y + 1) == key);
            found += besideKey;
        }
    return found;
}

TEST(SkinPictures, EveryPictureIsA24BitBitmapOfItsControlsSize) {
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.name);
        const Image img = loadPicture(p.name);
        EXPECT_EQ(img.width, p.width);
        EXPECT_EQ(img.height, p.height);
    }
}

TEST(SkinPictures, KeyColourSurroundsTheShapeWithoutAFringe) {
    for (const Picture& p : pictures()) {
        if (!p.key) continue;
        SCOPED_TRACE(p.name);
        const Image img = loadPicture(p.name);
        if (img.pixels.empty()) continue;
        const Rgb key = *p.key;
        for (auto [x, y] : {std::pair{0, 0},
                            {img.width - 1, 0},
                            {0, img.height - 1},
                            {img.width - 1, img.height - 1}})
            EXPECT_EQ(img.at(x, y), key)
                << "corner " << x << "," << y << " is " << text(img.at(x, y));
        long keyed = 0;
        for (const Rgb& c : img.pixels) keyed += c == key;
        // The shape fills its button; a picture that is mostly key lost its drawing.
        EXPECT_LT(keyed, long(img.pixels.size()) * 45 / 100);
        EXPECT_EQ(fringePixels(img, key), 0);
    }
}

TEST(SkinPictures, HoverAndDisabledLooksDifferFromTheNormalOne) {
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"THelp.bmp", "THelpA.bmp"},
        {"TAboutUs.bmp", "TAboutUsA.bmp"},
        {"TExit.bmp", "TExitA.bmp"},
        {"TSave.bmp", "TSaveA.bmp"},
        {"TSave.bmp", "TSaveD.bmp"},
        {"Next.bmp", "NextA.bmp"},
        {"Next.bmp", "NextD.bmp"},
        {"Back.bmp", "BackA.bmp"},
        {"Start.bmp", "StartA.bmp"},
        {"Stop.bmp", "StopA.bmp"},
        {"Save.bmp", "SaveA.bmp"},
        {"DigitalMedia.bmp", "DigitalMediaA.bmp"},
        {"ImageCreation.bmp", "ImageCreationA.bmp"},
    };
    for (const auto& [normal, other] : pairs) {
        SCOPED_TRACE(normal + " / " + other);
        const Image a = loadPicture(normal), b = loadPicture(other);
        if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) continue;
        long shape = 0, changed = 0;
        for (size_t i = 0; i < a.pixels.size(); ++i) {
            if (a.pixels[i] == kKeyNormal || a.pixels[i] == kKeyChoice) continue;
            ++shape;
            changed += distance(a.pixels[i], b.pixels[i]) > 30;
        }
        // A stylesheet the renderer ignored gives the same picture twice.
        EXPECT_GT(changed, shape / 20) << changed << " of " << shape << " pixels changed";
    }
}

TEST(SkinPictures, WaitBoxCornerOfThePreviewPlaceholderIsPlain) {
    // The wait box (207 x 60 px) tiles "Preview.bmp" from its top-left corner; the text
    // "Please Wait..." goes there, so no drawing or writing of the placeholder may.
    const Image img = loadPicture("Preview.bmp");
    if (img.pixels.empty()) return;
    int dark = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 207; ++x) {
            const Rgb c = img.at(x, y);
            dark += (c.r * 30 + c.g * 59 + c.b * 11) / 100 < 200;
        }
    EXPECT_EQ(dark, 0);
}

TEST(SkinPictures, SplashIsCutOnlyOutsideItsCard) {
    const Image img = loadPicture("FrontV.bmp");
    if (img.pixels.empty()) return;
    // The middle of the card and the emblem are solid; the strip above the card beside the
    // emblem is cut away.
    EXPECT_NE(img.at(260, 180), kKeySplash);
    EXPECT_NE(img.at(104, 74), kKeySplash);
    EXPECT_EQ(img.at(400, 20), kKeySplash);
}

// --- the render step itself, on pictures made up for the purpose ---

class SkinRender : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kestrum-skin-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name) << content;
        return dir_ / name;
    }
    int render(const std::string& args) {
        const std::string cmd = std::string("RSVG_CONVERT='") + KESTRUM_RSVG_CONVERT +
                                "' CONVERT='" + KESTRUM_IM_CONVERT + "' sh '" + KESTRUM_RENDER +
                                "' " + args + " 2>&1";
        return std::system(cmd.c_str());
    }
    fs::path dir_;
};

TEST_F(SkinRender, EdgesBlendWithWhatIsBehindNeverWithTheKey) {
    // A red disc on a green page, keyed by (2,2,2), with a square of exactly the key colour
    // drawn in its middle.
    const auto svg = write("disc.svg",
                           R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64">
<circle cx="32" cy="32" r="25" fill="#FF0000"/>
<rect x="28" y="28" width="8" height="8" fill="rgb(2,2,2)"/></svg>)svg");
    const auto out = dir_ / "disc.bmp";
    ASSERT_EQ(render(out.string() + " " + svg.string() + " 64x64 --key 2,2,2 --matte '#00FF00'"),
              0);
    std::string why;
    const auto img = loadBmp24(out, &why);
    ASSERT_TRUE(img) << why;
    EXPECT_EQ(img->at(0, 0), kKeyNormal);
    EXPECT_EQ(img->at(32, 32), (Rgb{2, 2, 3})) << "a drawn key-coloured pixel must not be a hole";
    int edge = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const Rgb c = img->at(x, y);
            if (c == kKeyNormal || (x >= 28 && x < 36 && y >= 28 && y < 36)) continue;
            // Anything else is red, or red mixed with the green behind it.
            EXPECT_TRUE(c.b <= 1 && std::abs(c.r + c.g - 255) <= 2)
                << text(c) << " at " << x << "," << y;
            edge += c.g > 0;
        }
    EXPECT_GT(edge, 0) << "the disc's edge should be smoothed against the green";
}

TEST_F(SkinRender, UnderTakesTheBackgroundAtTheButtonsPlace) {
    const auto bg =
        write("bg.svg", R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="40" height="20">
<rect width="20" height="20" fill="#0000FF"/><rect x="20" width="20" height="20" fill="#FFFF00"/></svg>)svg");
    const auto empty = write(
        "empty.svg", R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)svg");
    ASSERT_EQ(render((dir_ / "bg.png").string() + " " + bg.string() + " 40x20"), 0);
    ASSERT_EQ(render((dir_ / "right.bmp").string() + " " + empty.string() + " 10x10 --under " +
                     (dir_ / "bg.png").string() + " 25 5"),
              0);
    std::string why;
    const auto img = loadBmp24(dir_ / "right.bmp", &why);
    ASSERT_TRUE(img) << why;
    for (const Rgb& c : img->pixels) ASSERT_EQ(c, (Rgb{255, 255, 0})) << text(c);
}

// --- animation, icons, help ---

struct Gif {
    int width = 0, height = 0, frames = 0, loops = -1;
    std::set<int> delays;
};

// Walks the blocks of a GIF file; nullopt when they do not fit together.
std::optional<Gif> readGif(const fs::path& path) {
    const auto d = readFile(path);
    if (d.size() < 13 || std::string(d.begin(), d.begin() + 6) != "GIF89a") return std::nullopt;
    Gif g;
    g.width = le(d, 6, 2);
    g.height = le(d, 8, 2);
    size_t at = 13;
    if (d[10] & 0x80) at += 3u << ((d[10] & 7) + 1);
    auto skipSubBlocks = [&](size_t p) {
        while (p < d.size() && d[p] != 0) p += d[p] + 1;
        return p + 1;
    };
    while (at < d.size()) {
        const uint8_t tag = d[at];
        if (tag == 0x3B) return g;
        if (tag == 0x21 && at + 2 < d.size()) {
            const uint8_t label = d[at + 1];
            if (label == 0xF9 && at + 6 < d.size()) g.delays.insert(le(d, at + 4, 2));
            if (label == 0xFF && at + 18 < d.size() &&
                std::string(d.begin() + at + 3, d.begin() + at + 14) == "NETSCAPE2.0")
                g.loops = le(d, at + 16, 2);
            at = skipSubBlocks(at + 2);
        } else if (tag == 0x2C && at + 10 < d.size()) {
            ++g.frames;
            const uint8_t packed = d[at + 9];
            at += 10;
            if (packed & 0x80) at += 3u << ((packed & 7) + 1);
            at = skipSubBlocks(at + 1);  // after the LZW code size
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

TEST(SkinAnimation, ScanAnimationLoopsForeverThroughItsFrames) {
    const auto gif = readGif(fs::path(KESTRUM_DATA_DIR) / "Scan.gif");
    ASSERT_TRUE(gif) << "Scan.gif is missing or broken";
    EXPECT_EQ(gif->width, 96);
    EXPECT_EQ(gif->height, 64);
    EXPECT_EQ(gif->frames, 12);
    EXPECT_EQ(gif->loops, 0) << "0 is endless";
    EXPECT_EQ(gif->delays, (std::set<int>{8}));
}

TEST(SkinIcons, TheIconComesInEveryDesktopSize) {
    const fs::path icons = KESTRUM_ICON_DIR;
    for (int s : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const auto path =
            icons / (std::to_string(s) + "x" + std::to_string(s)) / "apps/kestrum.png";
        const auto d = readFile(path);
        ASSERT_GE(d.size(), 24u) << path;
        EXPECT_EQ(std::string(d.begin() + 12, d.begin() + 16), "IHDR") << path;
        EXPECT_EQ(be32(d, 16), uint32_t(s)) << path;
        EXPECT_EQ(be32(d, 20), uint32_t(s)) << path;
    }
    EXPECT_TRUE(fs::exists(icons / "scalable/apps/kestrum.svg"));
    for (const char* tree : {"Computer.png", "Drive.png", "Folder.png", "FolderOpen.png"}) {
        const auto d = readFile(fs::path(KESTRUM_DATA_DIR) / tree);
        ASSERT_GE(d.size(), 24u) << tree;
        EXPECT_EQ(be32(d, 16), 16u) << tree;
    }
}

TEST(SkinHelp, EveryLinkInTheHelpLeadsToAPlaceInIt) {
    const auto d = readFile(fs::path(KESTRUM_BIN_DIR) / "Kestrum HELP.html");
    const std::string html(d.begin(), d.end());
    ASSERT_FALSE(html.empty()) << "the help document is not beside the program";
    std::set<std::string> ids;
    const std::regex idRe(R"re(id="([^"]+)")re"), hrefRe(R"re(href="#([^"]+)")re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), idRe);
         it != std::sregex_iterator(); ++it)
        ids.insert((*it)[1]);
    int links = 0;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), hrefRe);
         it != std::sregex_iterator(); ++it, ++links)
        EXPECT_TRUE(ids.count((*it)[1])) << "no place named " << (*it)[1];
    EXPECT_GT(links, 0);
    for (const char* part : {"recovery", "imaging", "cli-devices", "cli-types", "cli-scan",
                             "cli-image", "thorough", "rescue", "permission"})
        EXPECT_TRUE(ids.count(part)) << "the help has no part \"" << part << "\"";
    // Reading a disk needs no root: the disk service is asked.
    EXPECT_NE(html.find("UDisks2"), std::string::npos);
}

}  // namespace
