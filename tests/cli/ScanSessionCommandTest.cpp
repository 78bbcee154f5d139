// `scan --session`: a scan killed at a random moment and run again with the same
// command lists exactly what an uninterrupted scan lists; another scan's record
// is refused with a message.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "CliTestSupport.h"
#include "DiskTestSupport.h"

namespace kestrum {
namespace {

using test::shellQuote;

// Real encoder files between random filler, about 15 MiB.
[[maybe_unused]] std::vector<uint8_t> buildMedium() {
    std::mt19937 random(11);
    std::vector<uint8_t> medium;
    const char* files[] = {"jpeg-exif.jpg", "picture.png", "tone.mp3", "clip.mkv",    "picture.gif",
                           "tone.wav",      "picture.bmp", "clip.avi", "picture.psd", "tone.ogg"};
    for (int round = 0; round < 3; ++round)
        for (const char* name : files) {
            for (size_t i = 0, n = (1 + random() % 2000) * 512; i < n; ++i)
                medium.push_back(static_cast<uint8_t>(random()));
            const auto bytes = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
            medium.insert(medium.end(), bytes.begin(), bytes.end());
            medium.resize((medium.size() + 511) / 512 * 512);
        }
    return medium;
}

TEST(ScanSessionCommand, KilledScanContinuesToTheSameList) {
    KESTRUM_LINUX_ONLY("fork and SIGKILL");
#ifndef _WIN32
    test::TempDir dir;
    test::ToolEnvironment tool;
    const auto medium = buildMedium();
    test::writeFile(dir.file("backing.img"), medium);
    // Every read is slowed, so the scan lasts long enough to be cut anywhere.
    test::FaultFs fs(dir.file("backing.img"), "card.img", "",
                     {"--slow=0-" + std::to_string(medium.size() / 512), "--delay-ms=25"});
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    const std::string scan = "scan --classic " + shellQuote(fs.file()) + " --types all --list";

    const auto began = std::chrono::steady_clock::now();
    const auto whole = tool.run(scan);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - began)
                          .count();
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    ASSERT_GE(std::count(whole.out.begin(), whole.out.end(), '\n'), 20);

    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 3; ++round) {
        const std::string session = dir.file("session" + std::to_string(round));
        const std::string recorded = scan + " --session " + shellQuote(session) + " --save-every 1";
        const auto killAfter = std::chrono::milliseconds(100 + random() % std::max<long>(1, took));
        SCOPED_TRACE(testing::Message() << "killed after " << killAfter.count() << " ms");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string command =
                "exec env " + tool.commandLine(recorded) + " </dev/null >/dev/null 2>&1";
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(killAfter);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const auto resumed = tool.run(recorded);
        ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
        EXPECT_EQ(resumed.out, whole.out);
        // Once complete, the same command lists the recorded result without scanning.
        const auto again = tool.run(recorded);
        EXPECT_EQ(again.out, whole.out);
        EXPECT_NE(again.err.find("Continuing the recorded scan"), std::string::npos);
    }

    // The same record with other types or another range is another scan.
    const std::string session = " --session " + shellQuote(dir.file("session0"));
    for (const std::string& other :
         {"scan --classic " + shellQuote(fs.file()) + " --types JPEG --list" + session,
          "scan --classic " + shellQuote(fs.file()) + " --types all --range 0:1000 --list" +
              session}) {
        const auto refused = tool.run(other);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("was made for another scan"), std::string::npos) << refused.err;
    }
#endif
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// A record that cannot be kept is told before the scan starts, not after it.
TEST(ScanSessionCommand, ARecordThatCannotBeWrittenIsRefusedBeforeTheScan) {
    KESTRUM_LINUX_ONLY("a read-only tmpfs mount");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a read-only tmpfs needs root";
    test::TempDir dir;
    test::ToolEnvironment tool;
    test::writePatternFile(dir.file("card.img"), 0, 64);
    const std::string folder = dir.file("ro");
    std::filesystem::create_directory(folder);
    if (test::runCommand("mount -t tmpfs -o ro,size=1m tmpfs " + shellQuote(folder)) != 0)
        GTEST_SKIP() << "tmpfs could not be mounted";
    const auto r = tool.run("scan --classic " + shellQuote(dir.file("card.img")) +
                            " --types all --session " + shellQuote(folder + "/s"));
    test::runCommand("umount " + shellQuote(folder));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Read-only file system"), std::string::npos) << r.err;
    EXPECT_EQ(tool.activityLog().find("Scan Session"), std::string::npos) << "no scan ran";
#endif
}

}  // namespace
}  // namespace kestrum
