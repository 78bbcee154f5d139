// Today's formats from the command line: `types` marks them, `scan` wants
// --thorough for them, and a thorough scan saves each under its own folder.
#include <gtest/gtest.h>

#include "CliTestSupport.h"

namespace kestrum::test {
namespace {

std::vector<uint8_t> dataFile(const char* name) {
    return readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/carve/" + name);
}

TEST(ModernTypesCommand, TypesMarksThemAndScanFindsThemOnlyThorough) {
    ToolEnvironment tool;
    const ToolRun types = tool.run("types");
    ASSERT_EQ(types.exitCode, 0);
    EXPECT_NE(types.out.find("HEIC       HEIF Images (HEIC)"), std::string::npos) << types.out;
    EXPECT_NE(types.out.find("  *\n"), std::string::npos);
    EXPECT_EQ(types.out.find("JPEG Images              2000  *"), std::string::npos);

    const char* files[] = {"photo.heic", "photo-lossy.webp", "tone.flac", "tone.aac", "clip.ts"};
    std::vector<uint8_t> image(512);
    for (const char* f : files) {
        const auto bytes = dataFile(f);
        ASSERT_FALSE(bytes.empty()) << f;
        image.insert(image.end(), bytes.begin(), bytes.end());
        image.resize((image.size() + 511) / 512 * 512 + 512);
    }
    TempDir card, out;
    writeFile(card.file("card.raw"), image);
    const ToolRun refused =
        tool.run("scan --classic " + shellQuote(card.file("card.raw")) + " --types HEIC");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("without --classic"), std::string::npos) << refused.err;

    const ToolRun r = tool.run("scan " + shellQuote(card.file("card.raw")) +
                               " --thorough --list --save " + shellQuote(out.path()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(out.file("HEIC/File1.HEIC")), dataFile("photo.heic")) << r.out;
    EXPECT_EQ(readFile(out.file("WEBP/File1.WEBP")), dataFile("photo-lossy.webp")) << r.out;
    EXPECT_EQ(readFile(out.file("FLAC/File1.FLAC")), dataFile("tone.flac")) << r.out;
    EXPECT_EQ(readFile(out.file("AAC/File1.AAC")), dataFile("tone.aac")) << r.out;
    EXPECT_EQ(readFile(out.file("MTS/File1.MTS")), dataFile("clip.ts")) << r.out;
}

}  // namespace
}  // namespace kestrum::test
