// Rescue imaging through the tool, on a FUSE medium with bad, slow and healing
// areas: the image holds every readable sector, the map names exactly the
// unreadable ones, a run killed at a random moment resumes to the same result
// without reading rescued areas again, and maps pass both ways with GNU ddrescue.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "CliTestSupport.h"
#include "DiskTestSupport.h"
#include "disk/SectorReader.h"
#include "imaging/RescueMap.h"
#include "platform/DurableReplace.h"

namespace kestrum {
namespace {

using test::FaultFs;
using test::shellQuote;

constexpr uint64_t kSectors = 32768;  // 16 MiB
const char* const kBad = "1000-1099,5000,5002,9000-11047,20001,32700-32767";
const std::vector<std::string> kSlow = {"--slow=14000-15023,9950-10100", "--delay-ms=2"};

std::set<uint64_t> sectorsOf(const std::string& list) {
    std::set<uint64_t> out;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        const size_t dash = item.find('-');
        const uint64_t first = std::stoull(item.substr(0, dash));
        const uint64_t last =
            dash == std::string::npos ? first : std::stoull(item.substr(dash + 1));
        for (uint64_t s = first; s <= last; ++s) out.insert(s);
    }
    return out;
}

RescueMap readMap(const std::string& path) {
    std::string text, error;
    EXPECT_TRUE(platform::readWholeFile(path, text)) << path;
    auto map = RescueMap::parse(text, &error);
    EXPECT_TRUE(map) << path << ": " << error;
    return map.value_or(RescueMap{});
}

// The sectors a map does not call rescued, within the medium.
std::set<uint64_t> unfinishedSectors(const RescueMap& map) {
    std::set<uint64_t> out;
    for (const MapBlock& b : map.blocks())
        if (b.status != rescue::kFinished)
            for (uint64_t s = b.pos / kSectorSize; s < b.end() / kSectorSize && s < kSectors; ++s)
                out.insert(s);
    return out;
}

[[maybe_unused]] std::vector<std::pair<uint64_t, char>> blockList(const RescueMap& map) {
    std::vector<std::pair<uint64_t, char>> out;
    for (const MapBlock& b : map.blocks()) out.emplace_back(b.pos, b.status);
    return out;
}

class RescueCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writePatternFile(dir.file("backing.img"), 0, kSectors);
        std::filesystem::create_directory(out());
    }
    std::unique_ptr<FaultFs> mount(std::vector<std::string> more = kSlow) {
        return std::make_unique<FaultFs>(dir.file("backing.img"), "disk.img", kBad, more);
    }
    std::string out() const { return dir.file("out"); }
    std::string image() const { return out() + test::kSeparator + "Image0.img"; }
    std::string map() const { return out() + test::kSeparator + "Image0.map"; }
    test::ToolRun rescue(const FaultFs& fs, const std::string& extra = {}) {
        return tool.run("image " + shellQuote(fs.file()) + " --out " + shellQuote(out()) +
                        " --rescue " + extra);
    }
    // Every sector of the image holds the medium's data, except `zeros`.
    std::string runErrors() const {
        const auto bytes = test::readFile(dir.file("run.err"));
        return std::string(bytes.begin(), bytes.end());
    }
#ifndef _WIN32
    // A rescue in a process of its own, its messages kept for runErrors().
    pid_t startRescue(const FaultFs& fs, const std::string& extra) const {
        const std::string command = "exec env " +
                                    tool.commandLine("image " + shellQuote(fs.file()) + " --out " +
                                                     shellQuote(out()) + " --rescue " + extra) +
                                    " </dev/null 2>" + shellQuote(dir.file("run.err"));
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    // Waits for the run pid to write its map; false when it ended first.
    bool mapAppears(pid_t pid) const {
        while (pid > 0 && !std::filesystem::exists(map()))
            if (::waitpid(pid, nullptr, WNOHANG) == pid)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pid > 0;
    }
#endif
    static void expectImage(const std::string& path, const std::set<uint64_t>& zeros,
                            const std::set<uint64_t>& onlyThese = {}) {
        const auto bytes = test::readFile(path);
        ASSERT_EQ(bytes.size(), kSectors * kSectorSize);
        int wrong = 0;
        for (uint64_t s = 0; s < kSectors && wrong < 5; ++s) {
            if (!onlyThese.empty() && !onlyThese.count(s)) continue;
            const auto ok =
                zeros.count(s) ? test::holdsZeros(bytes, s) : test::holdsSector(bytes, s, s);
            if (!ok) ++wrong;
            EXPECT_TRUE(ok) << "sector " << s;
        }
    }

    test::TempDir dir;
    test::ToolEnvironment tool;
};

#define MOUNT_OR_SKIP(fs, ...)    \
    auto fs = mount(__VA_ARGS__); \
    if (!fs->mounted()) GTEST_SKIP() << fs->reason();

TEST_F(RescueCommandTest, ImageHoldsEveryReadableSectorAndTheMapNamesTheRest) {
    MOUNT_OR_SKIP(fs);
    const auto result = rescue(*fs);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectImage(image(), sectorsOf(kBad));
    const RescueMap m = readMap(map());
    EXPECT_EQ(unfinishedSectors(m), sectorsOf(kBad));
    EXPECT_EQ(m.currentStatus, '+');
    EXPECT_EQ(m.bytesWith(rescue::kBadSector, 0, kSectors * kSectorSize),
              sectorsOf(kBad).size() * kSectorSize)
        << "everything not rescued was tried sector by sector";
    EXPECT_NE(result.err.find("could not be read"), std::string::npos) << result.err;
    EXPECT_NE(tool.activityLog().find("Rescue Mode : map " + map()), std::string::npos);

    // No sector was asked for twice in the failed areas' single-sector passes
    // beyond what trimming and scraping need: every bad sector met one
    // single-sector read, none was tried again without --retries.
    if (!fs->logsRequests()) return;
    std::map<uint64_t, int> singleReads;
    for (const auto& r : fs->takeRequests())
        if (r.size == kSectorSize && r.failed) ++singleReads[r.offset / kSectorSize];
    for (const auto& [sector, n] : singleReads) EXPECT_EQ(n, 1) << "sector " << sector;
    EXPECT_EQ(singleReads.size(), sectorsOf(kBad).size());
}

TEST_F(RescueCommandTest, RetryPassesGetThroughAWeakArea) {
    // The weak area fails its first six reads; the passes before the retries
    // meet it fewer times than that.
    const std::vector<std::string> weak = {"--heal=25000-25007", "--heal-after=6"};
    for (const int retries : {0, 8}) {
        SCOPED_TRACE(retries);
        MOUNT_OR_SKIP(fs, weak);
        std::filesystem::remove_all(out());
        std::filesystem::create_directory(out());
        const auto result = rescue(*fs, "--retries " + std::to_string(retries));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::set<uint64_t> weakLeft;
        for (uint64_t s : unfinishedSectors(readMap(map())))
            if (s >= 25000 && s <= 25007) weakLeft.insert(s);
        if (retries == 0) {
            EXPECT_FALSE(weakLeft.empty());
        } else {
            EXPECT_TRUE(weakLeft.empty());
            expectImage(image(), sectorsOf(kBad));
        }
    }
}

TEST_F(RescueCommandTest, KilledRunResumesToTheSameImageAndMap) {
    KESTRUM_LINUX_ONLY("fork and SIGKILL");
#ifndef _WIN32
    MOUNT_OR_SKIP(fs);
    // The uninterrupted run, for comparison.
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(rescue(*fs).exitCode, 0);
    const auto took = std::chrono::steady_clock::now() - began;
    const auto referenceImage = test::readFile(image());
    const auto referenceBlocks = blockList(readMap(map()));

    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove_all(out());
        std::filesystem::create_directory(out());
        const auto killAfter = std::chrono::milliseconds(
            20 +
            random() % std::max<long>(
                           1, std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        SCOPED_TRACE(testing::Message() << "killed after " << killAfter.count() << " ms");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string command =
                "exec env " +
                tool.commandLine("image " + shellQuote(fs->file()) + " --out " + shellQuote(out()) +
                                 " --rescue --save-every 1") +
                " </dev/null 2>/dev/null";
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(killAfter);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        // What the map calls rescued is in the image already, and is not read again.
        std::set<uint64_t> rescuedAtKill;
        if (std::filesystem::exists(map())) {
            const RescueMap atKill = readMap(map());
            const auto unfinished = unfinishedSectors(atKill);
            for (uint64_t s = 0; s < kSectors; ++s)
                if (!unfinished.count(s)) rescuedAtKill.insert(s);
            // (An empty set would check every sector.)
            if (!rescuedAtKill.empty()) expectImage(image(), {}, rescuedAtKill);
        }
        fs->takeRequests();
        const auto resumed = rescue(*fs);
        ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
        for (const auto& r : fs->takeRequests()) {
            bool allRescued = true;
            for (uint64_t s = r.offset / kSectorSize; s < (r.offset + r.size) / kSectorSize; ++s)
                allRescued = allRescued && rescuedAtKill.count(s);
            EXPECT_FALSE(allRescued) << "read again at " << r.offset << " (" << r.size << " bytes)";
        }
        EXPECT_TRUE(test::readFile(image()) == referenceImage);
        EXPECT_EQ(blockList(readMap(map())), referenceBlocks);
    }
#endif
}

TEST_F(RescueCommandTest, ContinuesFromAMapGnuDdrescueWroteAndDdrescueReadsOurs) {
    KESTRUM_LINUX_ONLY("GNU ddrescue and faultfs's request log");
#ifndef _WIN32
    MOUNT_OR_SKIP(fs, {});
#ifdef KESTRUM_DDRESCUE
    // Copying passes only over the first half: finished, non-trimmed and untried blocks.
    const std::string ddrescue = shellQuote(KESTRUM_DDRESCUE);
    ASSERT_EQ(test::runCommand(ddrescue + " -q -n -N -s 8388608 " + shellQuote(fs->file()) + " " +
                               shellQuote(image()) + " " + shellQuote(map())),
              0);
#else
    // The same medium's map as ddrescue wrote it, and the image it would have left.
    std::filesystem::copy_file(std::string(KESTRUM_TEST_DATA_DIR) + "/ddrescue-partial.map", map());
    const auto source = test::readFile(dir.file("backing.img"));
    std::vector<uint8_t> partial(8388608, 0);
    for (const MapBlock& b : readMap(map()).blocks())
        if (b.status == rescue::kFinished && b.pos < partial.size())
            std::copy_n(source.begin() + b.pos, b.size, partial.begin() + b.pos);
    test::writeFile(image(), partial);
#endif
    const RescueMap theirs = readMap(map());
    ASSERT_GT(theirs.bytesWith(rescue::kNonTrimmed, 0, kSectors * kSectorSize), 0u);
    ASSERT_GT(theirs.bytesWith(rescue::kNonTried, 0, kSectors * kSectorSize), 0u);
    std::set<uint64_t> copiedBefore;
    const auto notCopied = unfinishedSectors(theirs);
    for (uint64_t s = 0; s < kSectors; ++s)
        if (!notCopied.count(s)) copiedBefore.insert(s);

    fs->takeRequests();
    const auto result = rescue(*fs);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectImage(image(), sectorsOf(kBad));
    EXPECT_EQ(unfinishedSectors(readMap(map())), sectorsOf(kBad));
    for (const auto& r : fs->takeRequests())
        EXPECT_FALSE(copiedBefore.count(r.offset / kSectorSize) &&
                     copiedBefore.count((r.offset + r.size - 1) / kSectorSize))
            << "ddrescue's rescued data read again at " << r.offset;

#ifdef KESTRUM_DDRESCUE
    // ddrescue takes our map as its own: nothing left to do, the same blocks.
    const auto ours = blockList(readMap(map()));
    EXPECT_EQ(test::runCommand(ddrescue + " -q " + shellQuote(fs->file()) + " " +
                               shellQuote(image()) + " " + shellQuote(map())),
              0);
    EXPECT_EQ(blockList(readMap(map())), ours);
    EXPECT_TRUE(fs->takeRequests().empty()) << "ddrescue found nothing to read";
#endif
#endif
}

TEST_F(RescueCommandTest, RefusesMapsThatDoNotFitTheImage) {
    test::writePatternFile(dir.file("plain.img"), 0, 64);
    const std::string source = shellQuote(dir.file("plain.img"));
    const std::string dest = " --out " + shellQuote(out());
    auto r = tool.run("image " + source + dest + " --map " + shellQuote(dir.file("x.map")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--map needs --rescue"), std::string::npos) << r.err;

    ASSERT_EQ(tool.run("image " + source + dest + " --rescue").exitCode, 0);
    // Another range start would look for the rescued bytes at the wrong place.
    r = tool.run("image " + source + dest + " --rescue --range 8:64");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("belongs to another image"), std::string::npos) << r.err;
    // A map that says data was rescued into an image that is gone.
    std::filesystem::remove(image());
    r = tool.run("image " + source + dest + " --rescue");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("which is missing"), std::string::npos) << r.err;
    test::writeFile(map(), std::string("not a map\n"));
    r = tool.run("image " + source + dest + " --rescue");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is not a rescue map"), std::string::npos) << r.err;
    // Rescued pieces land where the map says, across a piece end too.
    std::filesystem::remove(map());
    r = tool.run("image " + source + dest + " --rescue --multifile --range 8:64");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::readFile(image()), test::patternSectors(8, 56));
    // Without its map a rescue starts afresh: it replaces that image only when told.
    std::filesystem::remove(map());
    r = tool.run("image " + source + dest + " --rescue --multifile --range 8:64");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
    r = tool.run("image " + source + dest + " --rescue --multifile --range 8:64 --overwrite");
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// Real files on a medium whose PNG has an unreadable sector: after a rescue of a
// range, a scan of the image (its folder or the file) with the map flags the PNG
// and only it, in the list and the log.
TEST(ScanWithRescueMap, FilesOverUnreadableSectorsAreFlaggedDamaged) {
    test::TempDir dir;
    test::ToolEnvironment tool;
    std::mt19937 random(3);
    std::vector<uint8_t> medium(1200 * kSectorSize);
    for (auto& b : medium) b = static_cast<uint8_t>(random());
    const std::pair<const char*, uint64_t> files[] = {
        {"jpeg-exif.jpg", 200}, {"picture.png", 400}, {"tone.wav", 600}, {"picture.bmp", 800}};
    for (const auto& [name, sector] : files) {
        const auto bytes = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
        std::copy(bytes.begin(), bytes.end(), medium.begin() + sector * kSectorSize);
    }
    test::writeFile(dir.file("backing.img"), medium);
    FaultFs fs(dir.file("backing.img"), "card.img", "405");
    if (!fs.mounted()) GTEST_SKIP() << fs.reason();
    std::filesystem::create_directory(dir.file("out"));
    const std::string out = shellQuote(dir.file("out"));
    const std::string map = shellQuote(dir.file("out/Image0.map"));
    ASSERT_EQ(
        tool.run("image " + shellQuote(fs.file()) + " --out " + out + " --rescue --range 100:1200")
            .exitCode,
        0);

    for (const std::string& source : {out, shellQuote(dir.file("out/Image0.img"))}) {
        SCOPED_TRACE(source);
        const auto r = tool.run("scan --classic " + source + " --types all --list --map " + map);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        int damaged = 0, intact = 0;
        std::stringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            const bool isPng = line.find("\tPNG\t") != std::string::npos;
            if (line.ends_with("\tdamaged")) {
                ++damaged;
                EXPECT_TRUE(isPng) << line;
            } else {
                ++intact;
                EXPECT_TRUE(line.ends_with("\tintact")) << line;
            }
        }
        EXPECT_EQ(damaged, 1) << r.out;
        EXPECT_GE(intact, 3) << r.out;
        EXPECT_NE(tool.activityLog().find("Damaged : File1.PNG"), std::string::npos);
    }
    // A copy of the map away from its image: the image cannot be told from the
    // disk, and a shifted reading would call the PNG intact.
    std::filesystem::copy_file(dir.file("out/Image0.map"), dir.file("copied.map"));
    const std::string copied = shellQuote(dir.file("copied.map"));
    const auto refused =
        tool.run("scan " + shellQuote(dir.file("out/Image0.img")) + " --types all --map " + copied);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_NE(refused.err.find("starts at source sector 100"), std::string::npos) << refused.err;
    // The disk the map was made of, though in the map's folder, is read at the
    // map's own positions.
    const auto disk = tool.run("scan " + shellQuote(dir.file("backing.img")) +
                               " --types PNG --list --map " + copied);
    ASSERT_EQ(disk.exitCode, 0) << disk.err;
    EXPECT_NE(disk.out.find("\t400\t"), std::string::npos) << disk.out;
    EXPECT_TRUE(disk.out.find("\tintact") == std::string::npos &&
                disk.out.find("\tdamaged") != std::string::npos)
        << disk.out;

    // Without --map the list keeps its four columns.
    const auto plain = tool.run("scan --classic " + out + " --types all --list");
    EXPECT_EQ(plain.out.find("intact"), std::string::npos);
    EXPECT_EQ(plain.out.find("damaged"), std::string::npos);
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// On a small volume the first run takes most of the room; going on from the map
// needs room only for what the image does not hold yet.
TEST(RescueRoom, AResumeNeedsRoomOnlyForWhatIsNotCopiedYet) {
    KESTRUM_LINUX_ONLY("a small tmpfs mount");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    test::TempDir dir;
    test::ToolEnvironment tool;
    const std::string volume = dir.file("volume");
    std::filesystem::create_directory(volume);
    if (test::runCommand("mount -t tmpfs -o size=1m tmpfs " + shellQuote(volume)) != 0)
        GTEST_SKIP() << "tmpfs could not be mounted";
    test::writePatternFile(dir.file("source.img"), 0, 1200);  // 600 KiB
    const std::string command = "image " + shellQuote(dir.file("source.img")) + " --out " +
                                shellQuote(volume) + " --rescue";
    const auto first = tool.run(command);
    const auto again = tool.run(command);
    const auto image = test::readFile(volume + "/Image0.img");
    test::runCommand("umount " + shellQuote(volume));
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(image == test::patternSectors(0, 1200));
#endif
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// The map never calls a byte rescued that the image does not hold: a map path
// that names the data itself, a changed range, a cut image, a replaced image and
// another tool's map read with a range start are refused before anything is
// written; a range not starting at 0 tells GNU ddrescue's options to continue it.
TEST(RescueContinuation, TheMapNeverCallsRescuedWhatTheImageDoesNotHold) {
    test::TempDir dir;
    test::ToolEnvironment tool;
    test::writePatternFile(dir.file("plain.img"), 0, 64);
    std::filesystem::create_directory(dir.file("out"));
    const std::string image = dir.file("out/Image0.img"), map = dir.file("out/Image0.map");
    const std::string command =
        "image " + shellQuote(dir.file("plain.img")) + " --out " + shellQuote(dir.file("out"));
    auto refused = [&](const std::string& options, const std::string& why) {
        const auto r = tool.run(command + " --rescue " + options);
        EXPECT_EQ(r.exitCode, 1) << options;
        EXPECT_NE(r.err.find(why), std::string::npos) << options << ": " << r.err;
    };
    refused("--map " + shellQuote(dir.file("out/iMaGe0.IMG")), "image piece");
    refused("--map " + shellQuote(dir.file("plain.img")), "is the source itself");
    test::writeFile(dir.file("scan.session"), std::string("kestrum scan session 2\n"));
    refused("--map " + shellQuote(dir.file("scan.session")), "scan session record");
    refused("--map " + shellQuote(dir.file("out")), "is a folder");
    EXPECT_FALSE(std::filesystem::exists(image)) << "nothing was written";

    ASSERT_EQ(tool.run(command + " --rescue").exitCode, 0);
    refused("--range 0:16", "past this range's end");
    EXPECT_EQ(std::filesystem::file_size(image), 64u * kSectorSize) << "rescued data kept";
    test::truncateTo(image, 16 * kSectorSize);
    refused("", "the image was cut or replaced");
    // A plain copy replaces the image: the map of the old one goes with it.
    ASSERT_EQ(tool.run(command + " --overwrite").exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(map));

    // GNU ddrescue's image holds source byte N at byte N.
    test::writeFile(map, std::string("0x8000 +\n0 0x8000 +\n"));
    refused("--range 8:", "another tool");
    std::filesystem::remove(map);
    std::filesystem::remove(image);
    const auto r = tool.run(command + " --rescue --range 8:64");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("ddrescue -i 4096 -o 0 -s 28672"), std::string::npos) << r.err;
#ifdef KESTRUM_DDRESCUE
    // Continued with those options GNU ddrescue leaves the image as it is; without
    // them it would write the sectors before the range over its start.
    const std::string options = r.err.substr(r.err.find("ddrescue -i") + 9);
    ASSERT_EQ(test::runCommand(shellQuote(KESTRUM_DDRESCUE) + " -q " +
                               options.substr(0, options.find('\n'))),
              0);
    EXPECT_EQ(test::readFile(image), test::patternSectors(8, 56));
#endif
}

// A loop device now holding another disk is not the disk the map was made of.
TEST(RescueContinuation, AMapOfAnotherDiskIsRefused) {
    test::TempDir dir;
    test::ToolEnvironment tool;
    test::writePatternFile(dir.file("a.img"), 0, 64);
    test::writePatternFile(dir.file("b.img"), 1000, 64);
    std::filesystem::create_directory(dir.file("out"));
    const std::string out = " --out " + shellQuote(dir.file("out")) + " --rescue";
    {
        test::LoopDevice a(dir.file("a.img"));
        if (!a.attached()) GTEST_SKIP() << a.reason();
        const auto r = tool.run("image " + a.node() + out + " --range 0:32");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    test::LoopDevice b(dir.file("b.img"));
    ASSERT_TRUE(b.attached()) << b.reason();
    const auto r = tool.run("image " + b.node() + out + " --range 0:32");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("belongs to another disk"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(dir.file("out/Image0.img")), test::patternSectors(0, 32));
}

TEST_F(RescueCommandTest, ASourceThatShrinksEndsTheRunWithoutCallingZerosRescued) {
    KESTRUM_LINUX_ONLY("fork and faultfs");
#ifndef _WIN32
    // Slow reads at the start leave time to cut the medium in half under the run.
    MOUNT_OR_SKIP(fs, {"--slow=0-4095", "--delay-ms=150"});
    const pid_t pid = startRescue(*fs, "");
    ASSERT_TRUE(mapAppears(pid)) << runErrors();
    test::truncateTo(dir.file("backing.img"), kSectors / 2 * kSectorSize);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 3) << "a failure, not a success: " << runErrors();
    const RescueMap m = readMap(map());
    EXPECT_GT(m.bytesWith(rescue::kFinished, 0, kSectors / 2 * kSectorSize), 0u)
        << "what was read before the end is kept";
    EXPECT_EQ(m.bytesWith(rescue::kFinished, kSectors / 2 * kSectorSize, kSectors * kSectorSize),
              0u);
    EXPECT_EQ(m.bytesWith(rescue::kBadSector, 0, kSectors * kSectorSize), 0u)
        << "what lies past the end is not a bad sector";
    const auto unfinished = unfinishedSectors(m);
    std::set<uint64_t> rescued;
    for (uint64_t s = 0; s < kSectors; ++s)
        if (!unfinished.count(s)) rescued.insert(s);
    if (!rescued.empty()) expectImage(image(), {}, rescued);
#endif
}

TEST_F(RescueCommandTest, TermAndHupSaveTheMapLikeCtrlC) {
    KESTRUM_LINUX_ONLY("fork and POSIX signals");
#ifndef _WIN32
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        MOUNT_OR_SKIP(fs, {"--slow=0-32767", "--delay-ms=40"});
        std::filesystem::remove_all(out());
        std::filesystem::create_directory(out());
        const pid_t pid = startRescue(*fs, "--save-every 30");
        ASSERT_TRUE(mapAppears(pid)) << runErrors();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
        EXPECT_EQ(WEXITSTATUS(status), 2) << runErrors();
        const RescueMap m = readMap(map());
        const uint64_t rescued = m.bytesWith(rescue::kFinished, 0, kSectors * kSectorSize);
        EXPECT_GT(rescued, 0u) << "the reads before the signal are in the map";
        const auto unfinished = unfinishedSectors(m);
        std::set<uint64_t> held;
        for (uint64_t s = 0; s < kSectors; ++s)
            if (!unfinished.count(s)) held.insert(s);
        if (!held.empty()) expectImage(image(), sectorsOf(kBad), held);
    }
#endif
}

TEST_F(RescueCommandTest, AStoppedRetryPassGoesOnWhereItStopped) {
    KESTRUM_LINUX_ONLY("faultfs's request log");
#ifndef _WIN32
    MOUNT_OR_SKIP(fs, {});
    ASSERT_EQ(rescue(*fs).exitCode, 0);
    // As a run stopped in the first (backward) retry pass at sector 9500 leaves it.
    std::string text;
    ASSERT_TRUE(platform::readWholeFile(map(), text));
    const size_t current = text.find("\n0x", text.find("current_pos"));
    text.replace(current + 1, text.find('\n', current + 1) - current - 1, [] {
        char line[32];
        std::snprintf(line, sizeof line, "0x%X - 1", 9500u * 512u);
        return std::string(line);
    }());
    test::writeFile(map(), text);
    fs->takeRequests();
    ASSERT_EQ(rescue(*fs, "--retries 1").exitCode, 0);
    std::set<uint64_t> retried;
    for (const auto& r : fs->takeRequests())
        if (r.failed) retried.insert(r.offset / kSectorSize);
    std::set<uint64_t> expected;
    for (uint64_t s : sectorsOf(kBad))
        if (s < 9500) expected.insert(s);
    EXPECT_EQ(retried, expected) << "only the sectors the stopped pass had not reached";
#endif
}

}  // namespace
}  // namespace kestrum
