// Files the engines write: replacing what is in the way without writing through
// it, complete writes or the reason why not, and the log's locked append.
#include "platform/OutputFile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <functional>

#include "../saving/IoTestSupport.h"
#include "LoopDevice.h"
#include "TestSupport.h"

namespace kestrum::platform {
namespace {
namespace fs = std::filesystem;

[[maybe_unused]] std::string textOf(const std::string& path) {
    const auto bytes = test::readFile(path);
    return {bytes.begin(), bytes.end()};
}

[[maybe_unused]] bool writeText(OutputFile& file, const std::string& text, int* error = nullptr) {
    return file.writeAll(text.data(), text.size(), error);
}

#ifndef _WIN32
mode_t permissionsOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Runs body in a forked child without root's right to ignore permissions (as
// "nobody" when the tests run as root); true when body returned true.
bool runUnprivileged(const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

class OutputFileLeftover : public ::testing::TestWithParam<OutputFile::Leftover> {};

TEST_P(OutputFileLeftover, ReplacesALinkWithoutWritingThroughIt) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::TempDir dir;
    const std::string victim = dir.file("victim");
    const std::string path = dir.file("out.bin");
    test::writeFile(victim, std::string("keep me"));
    fs::create_symlink(victim, path);

    int error = 0;
    auto out = OutputFile::create(path, &error, GetParam());
    ASSERT_NE(out, nullptr) << std::strerror(error);
    ASSERT_TRUE(writeText(*out, "copied"));
    ASSERT_TRUE(out->close());

    EXPECT_EQ(textOf(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(textOf(path), "copied");
#endif
}

TEST_P(OutputFileLeftover, ReplacesAReadOnlyFileWithTheGivenMode) {
    KESTRUM_LINUX_ONLY("POSIX file modes");
#ifndef _WIN32
    test::TempDir dir;
    const std::string path = dir.file("Tavtemp.JPEG");
    test::writeFile(path, std::string("an older and longer copy"));
    ::chmod(path.c_str(), 0444);

    auto out = OutputFile::create(path, nullptr, GetParam(), 0600);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(writeText(*out, "new"));
    ASSERT_TRUE(out->close());
    EXPECT_EQ(textOf(path), "new");
    EXPECT_EQ(permissionsOf(path), 0600u);
#endif
}

INSTANTIATE_TEST_SUITE_P(EitherWay, OutputFileLeftover,
                         ::testing::Values(OutputFile::Leftover::Refuse,
                                           OutputFile::Leftover::Truncate));

TEST(OutputFileTest, EntryThatCannotBeRemovedIsRefusedOrWrittenInPlace) {
    KESTRUM_LINUX_ONLY("fork and setuid");
#ifndef _WIN32
    test::TempDir dir;
    const std::string folder = dir.file("fixed");
    const std::string path = folder + "/Image0.img";
    fs::create_directory(folder);
    test::writeFile(path, std::string("an older and longer image"));
    // A folder nobody may change: its entries cannot be removed, only written.
    ::chmod(dir.path().c_str(), 0755);
    ::chown(folder.c_str(), 65534, 65534);
    ::chown(path.c_str(), 65534, 65534);
    ::chmod(folder.c_str(), 0555);

    EXPECT_TRUE(runUnprivileged([&] {
        int error = 0;
        return OutputFile::create(path, &error, OutputFile::Leftover::Refuse) == nullptr &&
               error == EEXIST;
    }));
    EXPECT_EQ(textOf(path), "an older and longer image");

    EXPECT_TRUE(runUnprivileged([&] {
        auto out = OutputFile::create(path, nullptr, OutputFile::Leftover::Truncate);
        return out && writeText(*out, "new") && out->close();
    }));
    EXPECT_EQ(textOf(path), "new");
    ::chmod(folder.c_str(), 0755);
#endif
}

TEST(OutputFileTest, CreateInAMissingFolderSaysWhy) {
    test::TempDir dir;
    int error = 0;
    EXPECT_EQ(OutputFile::create(dir.file("absent/out.bin"), &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST(OutputFileTest, WritePastTheFileSizeLimitStoresWhatFitsAndSaysEfbig) {
    KESTRUM_LINUX_ONLY("a file size limit (setrlimit in a forked child)");
#ifndef _WIN32
    test::TempDir dir;
    const std::string path = dir.file("big.img");
    const std::string result = test::runWithFileSizeLimit(1000, [&] {
        auto out = OutputFile::create(path);
        if (!out) return std::string("create failed");
        const std::string bytes(4096, 'x');
        int error = 0;
        if (out->writeAll(bytes.data(), bytes.size(), &error)) return std::string("stored all");
        return std::string(std::strerror(error));
    });
    EXPECT_EQ(result, std::strerror(EFBIG));
    EXPECT_EQ(fs::file_size(path), 1000u);
#endif
}

TEST(OutputFileTest, WriteOnAFullVolumeSaysEnospc) {
    KESTRUM_LINUX_ONLY("a small tmpfs mount");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    test::Mount volume("tmpfs", "-t tmpfs -o size=64k");
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    auto out = OutputFile::create(volume.path() + "/fill.bin");
    ASSERT_NE(out, nullptr);
    const std::string bytes(256 << 10, 'x');
    int error = 0;
    EXPECT_FALSE(out->writeAll(bytes.data(), bytes.size(), &error));
    EXPECT_EQ(error, ENOSPC);
    EXPECT_TRUE(out->close());
#endif
}

TEST(OutputFileTest, LockedOpenAppendsAtTheEndAndKeepsOthersOut) {
    KESTRUM_LINUX_ONLY("flock");
#ifndef _WIN32
    test::TempDir dir;
    const std::string path = dir.file("Activity Log.txt");
    test::writeFile(path, std::string("first"));

    auto log = OutputFile::openLocked(path);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->size(), 5u);
    // flock excludes every other open of the file, in this process as in others.
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);

    ASSERT_TRUE(log->append("\r\nsecond", 8));
    EXPECT_EQ(log->size(), 13u);
    log.reset();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    EXPECT_EQ(textOf(path), "first\r\nsecond");
#endif
}

TEST(OutputFileTest, LockedOpenCreatesAMissingFileButRefusesALink) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::TempDir dir;
    const std::string path = dir.file("Recovery Log.txt");
    auto log = OutputFile::openLocked(path);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->size(), 0u);
    log.reset();
    EXPECT_TRUE(fs::is_regular_file(path));

    const std::string victim = dir.file("victim");
    const std::string linked = dir.file("Activity Log.txt");
    test::writeFile(victim, std::string("keep me"));
    fs::create_symlink(victim, linked);
    int error = 0;
    EXPECT_EQ(OutputFile::openLocked(linked, &error), nullptr);
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(textOf(victim), "keep me");
#endif
}

}  // namespace
}  // namespace kestrum::platform
