// One unreadable sector among real photos, read through the faulting filesystem
// and a loop device over it: only that sector is lost, whatever the policy, and
// scanning, saving and imaging say so.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"
#include "DiskTestSupport.h"

namespace kestrum::test {
namespace {

struct Photo {
    const char* name;
    const char* type;  // the folder it is saved into
    uint64_t sector;
    std::vector<uint8_t> bytes;
};

class UnreadableSectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> medium(2048 * 512);
        uint64_t at = 16;
        for (const auto& [name, type] : {std::pair{"jpeg-exif.jpg", "JPEG"},
                                         {"picture.png", "PNG"},
                                         {"jpeg-jfif.jpg", "JPEG"},
                                         {"picture.gif", "GIF"}}) {
            const auto bytes = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
            ASSERT_FALSE(bytes.empty()) << name;
            std::copy(bytes.begin(), bytes.end(), medium.begin() + at * 512);
            photos.push_back({name, type, at, bytes});
            at += (bytes.size() + 511) / 512 + 8;
        }
        // Right after the first photo and a few sectors before the next: a read
        // that lost more than this sector would cut one of them.
        badSector = photos[0].sector + (photos[0].bytes.size() + 511) / 512;
        writeFile(dir.file("backing.img"), medium);
    }

    std::string out(const std::string& name) {
        const std::string path = dir.file(name);
        std::filesystem::create_directory(path);
        return path;
    }

    // Every photo saved into folder byte for byte, under the type's folder.
    void expectSaved(const std::string& folder) {
        for (const Photo& p : photos) {
            bool saved = false;
            for (const auto& e : std::filesystem::directory_iterator(folder + "/" + p.type))
                saved = saved || readFile(e.path().string()) == p.bytes;
            EXPECT_TRUE(saved) << p.name;
        }
    }

    TempDir dir;
    ToolEnvironment tool;
    std::vector<Photo> photos;
    uint64_t badSector = 0;
};

TEST_F(UnreadableSectorTest, EveryPhotoIsFoundAndSavedWholeInEveryPolicy) {
    FaultFs fs(dir.file("backing.img"), "card.img", std::to_string(badSector));
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    for (const char* policy : {"ask", "retry", "skip"}) {
        for (const std::string mode : {" --classic", " --thorough"}) {
            SCOPED_TRACE(std::string(policy) + mode);
            const std::string saved =
                out(std::string("out-") + policy + (mode == " --thorough" ? "-t" : ""));
            const ToolRun r = tool.run("scan " + shellQuote(fs.file()) +
                                       " --types JPEG,PNG,GIF --list --on-bad-sector " + policy +
                                       mode + " --save " + shellQuote(saved));
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.err.find("\n1 unreadable sector(s) were read as zeros."), std::string::npos)
                << r.err;
            int listed = 0;
            for (const Photo& p : photos)
                listed += r.out.find("\t" + std::to_string(p.sector) + "\t") != std::string::npos;
            EXPECT_EQ(listed, 4) << r.out;
            if (mode == " --thorough") {
                EXPECT_EQ(r.out.find("damaged"), std::string::npos) << r.out;
                expectSaved(saved);
            }
        }
    }
    EXPECT_NE(tool.activityLog().find("Analysing"), std::string::npos);
}

TEST_F(UnreadableSectorTest, LoopDeviceLosesOnlyTheBadSectorToo) {
    FaultFs fs(dir.file("backing.img"), "card.img", std::to_string(badSector));
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    LoopDevice loop(fs.file());
    if (!loop.attached()) GTEST_SKIP() << loop.reason();
    const std::string saved = out("out");
    const ToolRun r = tool.run("scan " + shellQuote(loop.node()) +
                               " --types JPEG,PNG,GIF --thorough --save " + shellQuote(saved));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("\n1 unreadable sector(s) were read as zeros."), std::string::npos)
        << r.err;
    expectSaved(saved);
}

TEST_F(UnreadableSectorTest, AFileOverTheBadSectorIsNeverCalledWholeAndItsSaveSaysWhy) {
    // Inside the PNG this time.
    const uint64_t inside = photos[1].sector + 1;
    FaultFs fs(dir.file("backing.img"), "card.img", std::to_string(inside));
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    const std::string saved = out("out");
    const ToolRun r = tool.run("scan " + shellQuote(fs.file()) +
                               " --types PNG --thorough --list --save " + shellQuote(saved));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\t" + std::to_string(photos[1].sector) + "\t"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("whole"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("damaged"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("1 sector could not be read and is zeros in the saved files."),
              std::string::npos)
        << r.err;
    EXPECT_NE(
        tool.recoveryLog().find("Unreadable Sectors (zeros) : 1 (" + std::to_string(inside) + ")"),
        std::string::npos)
        << tool.recoveryLog();
}

TEST_F(UnreadableSectorTest, ImagingWithSkipAllSaysHowManySectorsAreZeros) {
    FaultFs fs(dir.file("backing.img"), "card.img", std::to_string(badSector));
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    const std::string saved = out("out");
    const ToolRun r = tool.run("image " + shellQuote(fs.file()) + " --out " + shellQuote(saved));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Image creation completed; 1 sector could not be read and is zeros in "
                         "the image."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("written as zeros"), std::string::npos) << "said once" << r.err;
    EXPECT_NE(tool.activityLog().find("Unreadable Sectors (zeros) : 1 (" +
                                      std::to_string(badSector) + ")"),
              std::string::npos)
        << tool.activityLog();
    auto expected = readFile(dir.file("backing.img"));
    std::fill_n(expected.begin() + static_cast<ptrdiff_t>(badSector * 512), 512, 0);
    EXPECT_TRUE(readFile(saved + "/Image0.img") == expected);
}

}  // namespace
}  // namespace kestrum::test
