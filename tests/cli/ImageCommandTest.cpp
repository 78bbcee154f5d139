// `kestrum-recover image` run as a user would: exact images, clear refusals, and
// a destination that cannot take the bytes reported as a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "../platform/LoopDevice.h"
#include "CliTestSupport.h"

namespace kestrum::test {
namespace {

std::vector<uint8_t> patterned(size_t sectors) {
    std::vector<uint8_t> bytes(sectors * 512);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
    return bytes;
}

class ImageCommandTest : public ::testing::Test {
protected:
    void SetUp() override { writeFile(sourcePath, source); }
    ToolEnvironment tool;
    TempDir work;
    const std::string sourcePath = work.file("card.raw");
    const std::vector<uint8_t> source = patterned(300);
};

TEST_F(ImageCommandTest, OnATerminalTheProgressLineTellsShareSpeedAndTimeLeft) {
    KESTRUM_LINUX_ONLY("script(1) for a terminal");
#ifndef _WIN32
    TempDir out;
    const std::string command =
        tool.commandLine("image " + shellQuote(sourcePath) + " --out " + shellQuote(out.path()));
    // script gives the tool a terminal as its standard error.
    std::string shown;
    ASSERT_EQ(runCommand("script -qec " + shellQuote(command) + " /dev/null", &shown), 0) << shown;
    const std::regex line(
        "\rSector [0-9]+ / 300 +[0-9]+%  0 files  [0-9]+\\.[0-9] MB/s  "
        "([0-9]+:[0-5][0-9]:[0-5][0-9]|--:--:--) left");
    EXPECT_TRUE(std::regex_search(shown, line)) << shown;
#endif
}

TEST_F(ImageCommandTest, CopiesExactlyTheRangeAndLogsTheRun) {
    TempDir out;
    const ToolRun r = tool.run("image " + shellQuote(sourcePath) + " --out " +
                               shellQuote(out.path()) + " --range 5:18");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Image creation completed successfully."), std::string::npos) << r.err;
    const auto image = readFile(out.file("Image0.img"));
    EXPECT_EQ(image, std::vector<uint8_t>(source.begin() + 5 * 512, source.begin() + 18 * 512));

    const std::string log = tool.activityLog();
    EXPECT_NE(log.find("\r\nDISK IMAGING\r\n------\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Starting Range : 5\r\nEnding Range : 18"), std::string::npos) << log;
    EXPECT_NE(log.find("Current Sector : 18 / 18"), std::string::npos) << log;
    EXPECT_NE(log.find("Disk Imaging Completed Successfully\r\n"), std::string::npos) << log;

    // An image already there is kept unless --overwrite is given.
    const ToolRun again =
        tool.run("image " + shellQuote(sourcePath) + " --out " + shellQuote(out.path()));
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find(out.file("Image0.img") + " already exists. Give --overwrite"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(readFile(out.file("Image0.img")).size(), size_t{13 * 512});

    // Without a range the whole source is copied.
    const ToolRun whole = tool.run("image " + shellQuote(sourcePath) + " --out " +
                                   shellQuote(out.path()) + " --overwrite");
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(readFile(out.file("Image0.img")), source);
}

TEST_F(ImageCommandTest, RefusesBadInputWithAMessageThatSaysWhatToDo) {
    TempDir out;
    const std::string src = shellQuote(sourcePath);
    struct Case {
        std::string args, says;
    } cases[] = {
        {src, "--out"},
        {src + " --out " + shellQuote(sourcePath + "/sub"), "cannot be created"},
        {src + " --out " + shellQuote(out.path()) + " --range 9:9",
         "End sector should be bigger than start sector."},
        {src + " --out " + shellQuote(out.path()) + " --range x:9", "Start sector is not valid."},
        {src + " --out " + shellQuote(out.path()) + " --range 0:301", "only 300 sectors"},
        {shellQuote(work.file("absent.raw")) + " --out " + shellQuote(out.path()),
         "does not exist"},
        {shellQuote(work.path()) + " --out " + shellQuote(out.path()), "No \"Image0.img\""},
        {src + " --out " + shellQuote(out.path()) + " --bogus", "Unknown option --bogus"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool.run("image " + c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_TRUE(readFile(out.file("Image0.img")).empty()) << "nothing was written";

    // An image file as the source: imaging into its own folder would write over it,
    // or delete it as a leftover piece (pieces are matched without regard to case).
    for (const char* name : {"Image0.img", "IMAGE1.img"}) {
        TempDir own;
        writeFile(own.file(name), source);
        const ToolRun r = tool.run("image " + shellQuote(own.file(name)) + " --out " +
                                   shellQuote(own.path()) + " --multifile");
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_NE(r.err.find("holds the source image"), std::string::npos) << name << r.err;
        EXPECT_EQ(readFile(own.file(name)), source) << name;
    }
}

TEST_F(ImageCommandTest, OutputFolderIsMadeWithItsParentsButNeverOnTheSource) {
    TempDir out;
    const std::string deeper = out.file("new") + kSeparator + "deeper";
    const ToolRun r = tool.run("image " + shellQuote(sourcePath) + " --out " + shellQuote(deeper));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(deeper + kSeparator + "Image0.img"), source);

    const ToolRun under = tool.run("image " + shellQuote(sourcePath) + " --out " +
                                   shellQuote(sourcePath + "/sub/deeper"));
    EXPECT_EQ(under.exitCode, 1);
#ifndef _WIN32
    EXPECT_NE(under.err.find("The folder " + sourcePath + "/sub/deeper cannot be created (" +
                             sourcePath + "/sub: Not a directory)"),
              std::string::npos)
        << under.err;
#else
    EXPECT_NE(under.err.find("The folder " + sourcePath + "/sub/deeper cannot be created ("),
              std::string::npos)
        << under.err;
#endif

    // A missing folder on the disk being read: refused before anything is made there.
    MountedExt4 volume("KOUT", 16);
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    const std::string onSource = volume.mountPoint() + "/new/deeper";
    const ToolRun refused = tool.run("image " + shellQuote(volume.node()) + " --range 0:8 --out " +
                                     shellQuote(onSource));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("on the device being recovered"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(volume.mountPoint() + "/new"));
}

TEST_F(ImageCommandTest, AWriteThatFailsEndsAsFailureNotSuccess) {
    KESTRUM_LINUX_ONLY("a file size limit (ulimit -f)");
#ifndef _WIN32
    TempDir out;
    // A file-size limit of 64 KiB makes the writes past it fail (SIGXFSZ ignored,
    // so the write returns EFBIG), as a destination that fills up would.
    const ToolRun r =
        tool.run("image " + shellQuote(sourcePath) + " --out " + shellQuote(out.path()),
                 "trap '' XFSZ; ulimit -f 64;");
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.err.find("completed successfully"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Image creation failed"), std::string::npos) << r.err;
    EXPECT_EQ(tool.activityLog().find("Disk Imaging Completed Successfully"), std::string::npos);
#endif
}

}  // namespace
}  // namespace kestrum::test
