// `kestrum-recover scan` run as a user would, on an image built from files made
// by real encoders: each file found at and only at its sector with the length
// its type's rules give, saved byte for byte, and the runs logged.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <csignal>
#include <filesystem>
#include <thread>

#include "../platform/LoopDevice.h"
#include "CliTestSupport.h"

namespace kestrum::test {
namespace {

struct Expected {
    const char* file;
    const char* type;
    uint32_t sectors;  // the count the rules give, with zeros after the file
};

// Every encoder-made file that ends by its own rule (tests/data/README.md).
const Expected kFiles[] = {
    {"jpeg-jfif.jpg", "JPEG", 6},   {"jpeg-dqt.jpg", "JPEG", 6},
    {"jpeg-exif.jpg", "JPEG", 7},   {"picture.png", "PNG", 13},
    {"picture.gif", "GIF", 4},      {"picture.bmp", "BMP", 10},
    {"picture-le.tif", "TIFF", 8},  {"picture.psd", "PSD", 15},
    {"picture.jp2", "JP2", 8},      {"tone-icrd-trailer.wav", "WAV", 16},
    {"tone.ogg", "OGG", 6},         {"tone.au", "AU", 16},
    {"tone-appl.aiff", "AIFF", 16}, {"tone.wma", "WMA", 8},
    {"notes.mid", "MIDI", 1},       {"clip.avi", "AVI", 15},
    {"clip-mpeg1.m1v", "MPEG", 15}, {"clip-mpeg1.mpg", "MPEG", 17},
    {"clip.vob", "VOB", 20},        {"clip.3g2", "3G2", 10},
    {"clip-mp42.mp4", "MP4", 4},    {"clip-classic.mov", "MOV", 4},
    {"frame-ntsc.dv", "DV", 235},   {"tone.mp3", "MP3", 18},
};
constexpr uint64_t kGap = 3;  // zero sectors before every file

struct Placed {
    Expected expected;
    uint64_t start;
    std::vector<uint8_t> bytes;
};

class ScanCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> image;
        for (const Expected& e : kFiles) {
            auto bytes = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + e.file);
            ASSERT_FALSE(bytes.empty()) << e.file;
            image.resize(image.size() + kGap * 512);
            placed.push_back({e, image.size() / 512, bytes});
            image.insert(image.end(), bytes.begin(), bytes.end());
            image.resize((image.size() + 511) / 512 * 512);
        }
        // Room for the marker run of the MP3 at the end to read zeros.
        image.resize(image.size() + 400 * 512);
        writeFile(folder.file("Image0.img"), image);
    }

    std::string expectedListing() const {
        std::map<std::string, int> numbers;
        std::string out;
        for (const Placed& p : placed)
            out += "File" + std::to_string(++numbers[p.expected.type]) + "." + p.expected.type +
                   "\t" + p.expected.type + "\t" + std::to_string(p.start) + "\t" +
                   std::to_string(p.expected.sectors) + "\n";
        return out;
    }

    ToolEnvironment tool;
    TempDir folder;
    std::vector<Placed> placed;
};

TEST_F(ScanCommandTest, FindsEachFileAtAndOnlyAtItsSector) {
    const ToolRun r =
        tool.run("scan --classic " + shellQuote(folder.path()) + " --types all --list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, expectedListing());
    EXPECT_NE(r.err.find("Analysing Completed: 24 file(s)"), std::string::npos) << r.err;

    const std::string log = tool.activityLog();
    EXPECT_NE(log.find("\r\nMEDIA RECOVERY\r\n------\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nSelected Extensions Information : \r\nAll Extensions"),
              std::string::npos);
    EXPECT_NE(log.find("Files Found : 24\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Analysing Completed\r\n"), std::string::npos);
}

TEST_F(ScanCommandTest, OnlyTheChosenTypesAreFoundAndSavedFilesHoldTheOriginals) {
    TempDir out;
    const ToolRun r = tool.run("scan --classic " + shellQuote(folder.path()) +
                               " --types jpeg,PNG,WAV --list --save " + shellQuote(out.path()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("File Saved Successfully."), std::string::npos) << r.err;
    int listed = 0;
    std::map<std::string, int> numbers;
    for (const Placed& p : placed) {
        const std::string type = p.expected.type;
        if (type != "JPEG" && type != "PNG" && type != "WAV") continue;
        ++listed;
        const std::string name = "File" + std::to_string(++numbers[type]) + "." + type;
        const auto saved = readFile(out.path() + "/" + type + "/" + name);
        // The saved file is the original followed by the zeros of its last sector.
        ASSERT_EQ(saved.size(), p.expected.sectors * 512u) << name;
        EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), saved.begin())) << name;
        EXPECT_TRUE(std::all_of(saved.begin() + p.bytes.size(), saved.end(), [](uint8_t b) {
            return b == 0;
        })) << name;
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), listed);

    const std::string log = tool.recoveryLog();
    EXPECT_NE(log.find("Files Recover :" + std::to_string(listed) + " / " + std::to_string(listed)),
              std::string::npos)
        << log;
    EXPECT_NE(tool.activityLog().find("Information : \r\nWAV\r\nJPEG\r\nPNG"), std::string::npos);

    // A missing folder is made, with its parents.
    const ToolRun made = tool.run("scan --classic " + shellQuote(folder.path()) +
                                  " --types PNG --save " + shellQuote(out.file("made/for/it")));
    EXPECT_EQ(made.exitCode, 0) << made.err;
    EXPECT_FALSE(readFile(out.file("made/for/it/PNG/File1.PNG")).empty());

    // A second run finds every file there already and keeps it by default: it saved
    // nothing, which is not success.
    const ToolRun again = tool.run("scan --classic " + shellQuote(folder.path()) +
                                   " --types PNG --save " + shellQuote(out.path()));
    EXPECT_EQ(again.exitCode, 3) << again.err;
    EXPECT_NE(again.err.find("the 1 file(s) already there were kept. (0 / 1 saved"),
              std::string::npos)
        << again.err;
}

TEST_F(ScanCommandTest, AFileWithoutItsEndIsCutAtTheMaximumSize) {
    // A WAV without its end chunk and no header behind it within its span limit
    // of 40960 sectors is cut at the maximum size the user gave.
    auto image = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/tone.wav");
    image.resize(42000 * 512);
    TempDir cut;
    writeFile(cut.file("card.raw"), image);
    const ToolRun r = tool.run("scan --classic " + shellQuote(cut.file("card.raw")) +
                               " --types WAV --max-kb wav=20 --list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "File1.WAV\tWAV\t0\t40\n");
}

TEST_F(ScanCommandTest, RefusesBadInputWithAMessageThatSaysWhatToDo) {
    const std::string src = shellQuote(folder.path());
    struct Case {
        std::string args, says;
    } cases[] = {
        {src + " --types JPG", "Unknown file type \"JPG\". Did you mean JPEG?"},
        {src + " --types png,tif", "Unknown file type \"tif\". Did you mean TIFF?"},
        {src + " --types PNGG", "Did you mean PNG?"},
        {src + " --max-kb mpg=10", "Did you mean MPEG?"},
        {src + " --max-kb XYZ=10", "--max-kb takes TYPE=KB"},
        {src + " --range 100:50", "End sector should be bigger than start sector."},
        {src + " --save " + shellQuote(folder.file("Image0.img/sub")), "cannot be created"},
        {src + " --on-exists maybe", "--on-exists"},
        {"", "give exactly one SOURCE"},
        {shellQuote("\\\\.\\PhysicalDrive9"), "There is no device"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool.run("scan --classic " + c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
    // A maximum size that is not a number of KB from 2 to 250000 is a usage error
    // (only the type page falls back to 2000 without a word).
    for (const char* size : {"JPEG=abc", "PNG=1", "png=250001", "PNG=", "PNG=12k", "PNG=-5"}) {
        const ToolRun r = tool.run("scan --classic " + src + " --max-kb " + size + " --list");
        EXPECT_EQ(r.exitCode, 1) << size;
        EXPECT_NE(r.err.find(std::string("--max-kb ") + size), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("a whole number of KB from 2 to 250000"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << size;
    }
    for (const char* size : {"PNG=2", "PNG=250000"}) {
        const ToolRun r =
            tool.run("scan --classic " + src + " --types PNG --max-kb " + size + " --list");
        EXPECT_EQ(r.exitCode, 0) << size << r.err;
        EXPECT_EQ(r.err.find("using 2000"), std::string::npos) << r.err;
    }
    // The default size given on purpose caps nothing in thorough mode: said, not ignored.
    const ToolRun asDefault =
        tool.run("scan " + src + " --types PNG --max-kb PNG=2000 --thorough --list");
    EXPECT_EQ(asDefault.exitCode, 0) << asDefault.err;
    EXPECT_NE(asDefault.err.find("--max-kb PNG=2000: 2000 KB is the default"), std::string::npos)
        << asDefault.err;

    // An empty source is said to be empty, whatever the range.
    writeFile(folder.file("empty.raw"), std::string());
    for (const char* range : {"", " --range 0:10", " --range :"}) {
        const ToolRun r =
            tool.run("scan --classic " + shellQuote(folder.file("empty.raw")) + range);
        EXPECT_EQ(r.exitCode, 1) << range;
        EXPECT_NE(r.err.find("The source is empty (0 sectors)"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("bigger than start"), std::string::npos) << r.err;
    }
}

TEST_F(ScanCommandTest, ASecondCardSavedIntoTheSameFolderKeepsBothSides) {
    // The second card holds the JPEGs of the first in reverse order: the same
    // names, other bytes, except the middle one.
    std::vector<uint8_t> card;
    std::vector<std::vector<uint8_t>> jpegs;
    for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
        if (std::string(p->expected.type) != "JPEG") continue;
        card.resize(card.size() + kGap * 512);
        card.insert(card.end(), p->bytes.begin(), p->bytes.end());
        card.resize((card.size() + 511) / 512 * 512);
        jpegs.push_back(p->bytes);
    }
    card.resize(card.size() + 64 * 512);
    writeFile(folder.file("second.img"), card);
    TempDir out;
    const std::string save = " --types JPEG --save " + shellQuote(out.path());
    ASSERT_EQ(tool.run("scan --classic " + shellQuote(folder.path()) + save).exitCode, 0);
    const auto firstCard = [&](int n) {
        return readFile(out.path() + "/JPEG/File" + std::to_string(n) + ".JPEG");
    };
    const auto before = std::vector{firstCard(1), firstCard(2), firstCard(3)};

    const ToolRun second =
        tool.run("scan --classic " + shellQuote(folder.file("second.img")) + save);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.err.find("2 file(s) saved, 1 file(s) already there were kept."),
              std::string::npos)
        << second.err;
    EXPECT_EQ((std::vector{firstCard(1), firstCard(2), firstCard(3)}), before);
    const auto startsWith = [&](const std::string& name, const std::vector<uint8_t>& original) {
        const auto bytes = readFile(out.path() + "/JPEG/" + name);
        return bytes.size() >= original.size() &&
               std::equal(original.begin(), original.end(), bytes.begin());
    };
    EXPECT_TRUE(startsWith("File1 (2).JPEG", jpegs[0]));
    EXPECT_TRUE(startsWith("File3 (2).JPEG", jpegs[2]));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path() + "/JPEG"), {}), 5);

    // The same card again finds every file of it there, under either name (asked
    // with nobody at a terminal, the tool keeps both).
    const ToolRun same = tool.run("scan --classic " + shellQuote(folder.file("second.img")) + save +
                                  " --on-exists ask");
    EXPECT_EQ(same.exitCode, 3) << same.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path() + "/JPEG"), {}), 5);

    // Asked to skip, the run saves nothing and says so with its exit code.
    const ToolRun skipped = tool.run("scan --classic " + shellQuote(folder.file("second.img")) +
                                     save + " --on-exists skip");
    EXPECT_EQ(skipped.exitCode, 3);
    EXPECT_NE(skipped.err.find("No file was saved: the 3 file(s) already there were kept."),
              std::string::npos)
        << skipped.err;
    // Asked to replace, the first card's files give way.
    const ToolRun replaced = tool.run("scan --classic " + shellQuote(folder.file("second.img")) +
                                      save + " --on-exists replace");
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_TRUE(startsWith("File1.JPEG", jpegs[0]));
    EXPECT_NE(firstCard(1), before[0]);
}

TEST_F(ScanCommandTest, ADestinationThatCannotTakeTheFilesIsRefusedWithTheReason) {
    KESTRUM_LINUX_ONLY("small mounted file systems");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting small file systems needs root";
    // Too small: refused once the files are known, before any is written.
    Mount small("tmpfs", "-t tmpfs -o size=64k");
    ASSERT_TRUE(small.ok()) << small.why();
    const ToolRun full = tool.run("scan --classic " + shellQuote(folder.path()) + " --save " +
                                  shellQuote(small.path()));
    EXPECT_EQ(full.exitCode, 3) << full.err;
    EXPECT_NE(full.err.find("Insufficient free space on destination: the files to save need "),
              std::string::npos)
        << full.err;
    EXPECT_NE(full.err.find(" missing)"), std::string::npos) << full.err;
    EXPECT_TRUE(std::filesystem::is_empty(small.path()));

    // Read-only: refused before the scan, with the real cause.
    Mount readOnly("tmpfs", "-t tmpfs -o ro,size=64k");
    ASSERT_TRUE(readOnly.ok()) << readOnly.why();
    const ToolRun refused = tool.run("scan --classic " + shellQuote(folder.path()) + " --save " +
                                     shellQuote(readOnly.path()));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Read-only file system"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("Analysing"), std::string::npos) << refused.err;

    // A mounted card given by its folder: the device to scan is named.
    MountedExt4 card("CARD", 16);
    if (!card.ok()) GTEST_SKIP() << card.why();
    const ToolRun mounted = tool.run("scan --classic " + shellQuote(card.mountPoint()));
    EXPECT_EQ(mounted.exitCode, 1);
    EXPECT_NE(
        mounted.err.find(card.mountPoint() + " is where the drive " + card.node() + " is mounted."),
        std::string::npos)
        << mounted.err;
#endif
}

TEST_F(ScanCommandTest, CtrlCStopsAtABatchEndAndKeepsWhatWasFound) {
    KESTRUM_LINUX_ONLY("fork and SIGINT");
#ifndef _WIN32
    // A large sparse source that cannot be scanned before the interrupt arrives,
    // with a JPEG in its first batch.
    const auto jpeg = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/jpeg-jfif.jpg");
    const std::string path = folder.file("huge.raw");
    writeFile(path, jpeg);
    ASSERT_EQ(::truncate(path.c_str(), 200LL << 30), 0);
    TempDir out;
    const std::string listing = folder.file("listing");
    const std::string command =
        "exec env " +
        tool.commandLine("scan --classic " + shellQuote(path) + " --types JPEG --list --save " +
                         shellQuote(out.path())) +
        " >" + shellQuote(listing) + " 2>/dev/null </dev/null";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The file is listed (and flushed into the file) while the scan goes on.
    const std::string line = "File1.JPEG\tJPEG\t0\t6\n";
    for (;;) {
        int status = 0;
        ASSERT_NE(::waitpid(child, &status, WNOHANG), child) << "ended before the interrupt";
        const auto sofar = readFile(listing);
        if (std::string(sofar.begin(), sofar.end()) == line) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    const auto listed = readFile(listing);
    EXPECT_EQ(std::string(listed.begin(), listed.end()), "File1.JPEG\tJPEG\t0\t6\n");
    EXPECT_EQ(readFile(out.path() + "/JPEG/File1.JPEG").size(), 6u * 512);
    EXPECT_NE(tool.activityLog().find("Analysing Aborted"), std::string::npos);
#endif
}

TEST_F(ScanCommandTest, AListingPipedIntoHeadEndsTheScanWhenHeadHasItsLine) {
    // 200 GiB of zeros behind the JPEG would take minutes to scan.
    const auto jpeg = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/jpeg-jfif.jpg");
    const std::string path = folder.file("huge.raw");
    writeFile(path, jpeg);
    resizeFile(path, 200ULL << 30);
#ifdef _WIN32
    // The reader of the pipe takes the first line and goes, as "more" quit does.
    const auto piped =
        tool.startPiped("scan --classic " + shellQuote(path) + " --types JPEG --list");
    ASSERT_TRUE(piped);
    EXPECT_EQ(piped->readLine(), "File1.JPEG\tJPEG\t0\t6");
    piped->closeReader();
    EXPECT_EQ(piped->waitFor(std::chrono::seconds(20)), 141) << "the scan went on";
    EXPECT_NE(tool.activityLog().find("Analysing Aborted"), std::string::npos);
#else
    const std::string status = folder.file("status");
    const std::string command =
        "( " + tool.commandLine("scan --classic " + shellQuote(path) + " --types JPEG --list") +
        " 2>" + shellQuote(folder.file("err")) + "; echo $? >" + shellQuote(status) +
        " ) | head -1";
    std::string out;
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(runCommand(command, &out), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(out, "File1.JPEG\tJPEG\t0\t6\n");
    // Ended as a writer to a closed pipe ends (128 + SIGPIPE), without a word.
    const auto code = readFile(status);
    EXPECT_EQ(std::string(code.begin(), code.end()), "141\n");
    EXPECT_TRUE(readFile(folder.file("err")).empty());
    EXPECT_NE(tool.activityLog().find("Analysing Aborted"), std::string::npos);
#endif
}

}  // namespace
}  // namespace kestrum::test
