// `kestrum-recover scan --thorough` as a user runs it: the mode in the activity
// log, the whole/partial column of --list, files saved to their exact length and
// partial ones marked in the recovery log.
#include <gtest/gtest.h>

#include <algorithm>

#include "CliTestSupport.h"
#include "carve/Carver.h"

namespace kestrum::test {
namespace {

bool hasCarverFor(std::string_view type) {
    for (const carve::CarverEntry& c : carve::carvers())
        if (std::find(c.types.begin(), c.types.end(), type) != c.types.end()) return true;
    return false;
}

std::vector<uint8_t> dataFile(const char* name) {
    return readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
}

TEST(ThoroughCommand, ListsExactLengthsSavesThemAndMarksTheCutFile) {
    // Two whole JPEGs and one cut by the end of the card, which ends on a sector
    // boundary inside its picture data.
    const auto exif = dataFile("jpeg-exif.jpg");
    const auto jfif = dataFile("jpeg-jfif.jpg");
    ASSERT_FALSE(exif.empty() || jfif.empty());
    ASSERT_GT(jfif.size(), 1024u);
    std::vector<uint8_t> image(2 * 512);
    auto place = [&](const std::vector<uint8_t>& bytes, size_t keep) {
        const uint64_t sector = image.size() / 512;
        image.insert(image.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(keep));
        image.resize((image.size() + 511) / 512 * 512 + 3 * 512);
        return sector;
    };
    const uint64_t first = place(exif, exif.size());
    const uint64_t second = place(jfif, jfif.size());
    const uint64_t cut = image.size() / 512;
    image.insert(image.end(), jfif.begin(), jfif.begin() + 1024);
    TempDir card, out;
    writeFile(card.file("card.raw"), image);
    ToolEnvironment tool;

    const ToolRun classic =
        tool.run("scan --classic " + shellQuote(card.file("card.raw")) + " --types JPEG --list");
    ASSERT_EQ(classic.exitCode, 0) << classic.err;
    EXPECT_EQ(tool.activityLog().find("Detection Mode"), std::string::npos);

    const ToolRun r = tool.run("scan " + shellQuote(card.file("card.raw")) +
                               " --types JPEG --thorough --list --save " + shellQuote(out.path()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(tool.activityLog().find("Detection Mode : Thorough"), std::string::npos);
    if (!hasCarverFor("JPEG")) GTEST_SKIP() << "no carver classes JPEG files yet";

    auto sectors = [](size_t bytes) { return std::to_string((bytes + 511) / 512); };
    EXPECT_EQ(r.out, "File1.JPEG\tJPEG\t" + std::to_string(first) + "\t" + sectors(exif.size()) +
                         "\twhole\n" + "File2.JPEG\tJPEG\t" + std::to_string(second) + "\t" +
                         sectors(jfif.size()) + "\twhole\n" + "File3.JPEG\tJPEG\t" +
                         std::to_string(cut) + "\t2\tpartial\n");
    EXPECT_EQ(readFile(out.file("JPEG/File1.JPEG")), exif);
    EXPECT_EQ(readFile(out.file("JPEG/File2.JPEG")), jfif);
    EXPECT_EQ(readFile(out.file("JPEG/File3.JPEG")),
              std::vector<uint8_t>(jfif.begin(), jfif.begin() + 1024));
    const std::string log = tool.recoveryLog();
    EXPECT_NE(log.find("File3.JPEG (partial)"), std::string::npos) << log;
    EXPECT_EQ(log.find("File1.JPEG (partial)"), std::string::npos) << log;

    // Thorough is the default: the same list without the option; classic is the option.
    const ToolRun byDefault =
        tool.run("scan " + shellQuote(card.file("card.raw")) + " --types JPEG --list");
    EXPECT_EQ(byDefault.out, r.out) << byDefault.err;
    EXPECT_NE(classic.out, r.out);
    const ToolRun both = tool.run("scan " + shellQuote(card.file("card.raw")) +
                                  " --types JPEG --classic --thorough --list");
    EXPECT_EQ(both.exitCode, 1) << both.err;
    EXPECT_NE(both.err.find("exclude each other"), std::string::npos) << both.err;
}

}  // namespace
}  // namespace kestrum::test
