// File-system entries: links removed and never followed, files compared by
// identity, read-only cleared, block devices told apart, free space measured.
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>

#include "LoopDevice.h"
#include "TestSupport.h"

namespace kestrum::platform {
namespace {
namespace fs = std::filesystem;

[[maybe_unused]] mode_t permissionsOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(FilesTest, RemoveEntryTakesTheLinkNotItsTarget) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::TempDir dir;
    const std::string target = dir.file("Image0.img");
    const std::string link = dir.file("Image1.img");
    const std::string dangling = dir.file("Image2.img");
    test::writeFile(target, std::string("source"));
    fs::create_symlink(target, link);
    fs::create_symlink(dir.file("gone"), dangling);

    EXPECT_TRUE(entryExists(dangling));  // not followed
    EXPECT_TRUE(removeEntry(link));
    EXPECT_TRUE(removeEntry(dangling));
    EXPECT_FALSE(entryExists(link));
    EXPECT_FALSE(entryExists(dangling));
    EXPECT_TRUE(fs::exists(target));

    EXPECT_TRUE(removeEntry(dir.file("never there")));
    fs::create_directory(dir.file("Image3.img"));
    EXPECT_FALSE(removeEntry(dir.file("Image3.img")));
    EXPECT_TRUE(fs::is_directory(dir.file("Image3.img")));
#endif
}

TEST(FilesTest, RemoveEntryTakesAReadOnlyFile) {
    test::TempDir dir;
    const std::string path = dir.file("Image0.img");
    test::writeFile(path, std::string("left over"));
    ::chmod(path.c_str(), 0444);
    EXPECT_TRUE(removeEntry(path));
    EXPECT_FALSE(entryExists(path));
}

TEST(FilesTest, MakeWritableGivesTheOwnerWriteAndKeepsTheRest) {
    KESTRUM_LINUX_ONLY("POSIX file modes");
#ifndef _WIN32
    test::TempDir dir;
    const std::string readOnly = dir.file("Activity Log.txt");
    const std::string writable = dir.file("Recovery Log.txt");
    test::writeFile(readOnly, std::string("x"));
    test::writeFile(writable, std::string("x"));
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(writable.c_str(), 0640);

    makeWritable(readOnly);
    makeWritable(writable);
    makeWritable(dir.file("absent"));
    EXPECT_EQ(permissionsOf(readOnly), 0644u);
    EXPECT_EQ(permissionsOf(writable), 0640u);
    EXPECT_FALSE(entryExists(dir.file("absent")));
#endif
}

TEST(FilesTest, SameFileSeesThroughLinksAndSpellings) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::TempDir dir;
    const std::string a = dir.file("Image0.img");
    test::writeFile(a, std::string("same bytes"));
    test::writeFile(dir.file("copy.img"), std::string("same bytes"));
    fs::create_hard_link(a, dir.file("hard.img"));
    fs::create_symlink(a, dir.file("soft.img"));
    fs::create_directory(dir.file("sub"));

    EXPECT_TRUE(sameFile(a, dir.file("hard.img")));
    EXPECT_TRUE(sameFile(a, dir.file("soft.img")));
    EXPECT_TRUE(sameFile(a, dir.path() + "/sub/../Image0.img"));
    EXPECT_TRUE(sameFile(dir.path(), dir.path() + "/sub/.."));
    EXPECT_FALSE(sameFile(a, dir.file("copy.img")));
    EXPECT_FALSE(sameFile(a, dir.file("absent")));
    EXPECT_FALSE(sameFile(dir.file("absent"), dir.file("absent")));
#endif
}

TEST(FilesTest, CreateDirectoryMakesOneLevel) {
    test::TempDir dir;
    EXPECT_TRUE(createDirectory(dir.file("JPEG")));
    EXPECT_TRUE(fs::is_directory(dir.file("JPEG")));
    EXPECT_FALSE(createDirectory(dir.file("JPEG")));
    EXPECT_FALSE(createDirectory(dir.file("a/b")));
}

TEST(FilesTest, OnlyABlockDeviceIsOne) {
    test::TempDir dir;
    test::writeFile(dir.file("disk.img"), std::string(4096, '\0'));
    EXPECT_FALSE(isBlockDevice(dir.file("disk.img")));
    EXPECT_FALSE(isBlockDevice(dir.path()));
    EXPECT_FALSE(isBlockDevice("/dev/null"));
    EXPECT_FALSE(isBlockDevice(dir.file("absent")));

    if (const auto why = test::loopUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::LoopDevice loop(dir.file("disk.img"));
    if (!loop.ok()) GTEST_SKIP() << loop.why();
    EXPECT_TRUE(isBlockDevice(loop.node()));
    fs::create_symlink(loop.node(), dir.file("disk-link"));
    EXPECT_TRUE(isBlockDevice(dir.file("disk-link")));
}

TEST(FilesTest, FreeBytesFollowTheVolume) {
    KESTRUM_LINUX_ONLY("a small tmpfs mount");
#ifndef _WIN32
    test::TempDir dir;
    EXPECT_FALSE(freeBytesOf(dir.file("absent")));
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    test::Mount volume("tmpfs", "-t tmpfs -o size=1m");
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    EXPECT_EQ(freeBytesOf(volume.path()).value_or(0), 1u << 20);
    test::writeFile(volume.path() + "/piece", std::string(64 << 10, 'x'));
    EXPECT_EQ(freeBytesOf(volume.path()).value_or(0), (1u << 20) - (64u << 10));
#endif
}

}  // namespace
}  // namespace kestrum::platform
