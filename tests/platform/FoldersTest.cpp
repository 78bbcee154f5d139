// Path joining, case-blind file lookup and the private temporary folder.
#include "platform/Folders.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"

namespace kestrum::platform {
namespace {
namespace fs = std::filesystem;

TEST(FoldersTest, JoinPathPutsExactlyOneSeparator) {
    KESTRUM_LINUX_ONLY("'/' as the folder separator");
#ifndef _WIN32
    EXPECT_EQ(joinPath("/data", "gui2.bmp"), "/data/gui2.bmp");
    EXPECT_EQ(joinPath("/data/", "gui2.bmp"), "/data/gui2.bmp");
    EXPECT_EQ(joinPath("/data", "\\gui2.bmp"), "/data/gui2.bmp");
    EXPECT_EQ(joinPath("/data//", "//gui2.bmp"), "/data/gui2.bmp");
    // A folder kept the Windows way ends in a backslash.
    EXPECT_EQ(joinPath("/images\\", "Image0.img"), "/images/Image0.img");
    EXPECT_EQ(joinPath("/", "tmp"), "/tmp");
    EXPECT_EQ(joinPath("", "tmp"), "/tmp");
    EXPECT_EQ(joinPath("/share", "Kestrum for Digital Media"), "/share/Kestrum for Digital Media");
#endif
}

TEST(FoldersTest, FindFileNoCaseMatchesAnySpelling) {
    test::TempDir dir;
    test::writeFile(dir.file("Image0.img"), std::string("x"));
    fs::create_directory(dir.file("image1.img"));  // a folder is not an image piece

    EXPECT_EQ(findFileNoCase(dir.path(), "Image0.img").value_or("-"), dir.file("Image0.img"));
    EXPECT_EQ(test::caseFolded(findFileNoCase(dir.path(), "image0.IMG").value_or("-")),
              test::caseFolded(dir.file("Image0.img")));
    EXPECT_EQ(test::caseFolded(findFileNoCase(dir.path() + "\\", "\\IMAGE0.img").value_or("-")),
              test::caseFolded(dir.file("Image0.img")));
    EXPECT_FALSE(findFileNoCase(dir.path(), "image1.img"));
    EXPECT_FALSE(findFileNoCase(dir.path(), "image2.img"));
    EXPECT_FALSE(findFileNoCase(dir.file("absent"), "image0.img"));
}

#ifdef _WIN32
class PrivateTempFolderTest : public ::testing::Test {};
#else
// Points $XDG_RUNTIME_DIR at a scratch folder for the test.
class PrivateTempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* p = std::getenv("XDG_RUNTIME_DIR")) saved_ = p, hadSaved_ = true;
        ::setenv("XDG_RUNTIME_DIR", base_.path().c_str(), 1);
    }
    void TearDown() override {
        if (hadSaved_)
            ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }
    std::string usualName() const { return base_.file("kestrum-" + std::to_string(::getuid())); }

    test::TempDir base_;
    std::string saved_;
    bool hadSaved_ = false;
};
#endif

TEST_F(PrivateTempFolderTest, IsCreatedPrivateAndMadePrivateAgain) {
    KESTRUM_LINUX_ONLY("$XDG_RUNTIME_DIR, POSIX modes and owners");
#ifndef _WIN32
    const std::string folder = privateTempFolder();
    EXPECT_EQ(folder, usualName());
    EXPECT_TRUE(S_ISDIR(modeOf(folder)));
    EXPECT_EQ(modeOf(folder) & 0777, 0700u);

    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    EXPECT_EQ(privateTempFolder(), folder);
    EXPECT_EQ(modeOf(folder) & 0777, 0700u);
#endif
}

TEST_F(PrivateTempFolderTest, RefusesALinkPlantedInItsPlace) {
    KESTRUM_LINUX_ONLY("$XDG_RUNTIME_DIR, POSIX modes and owners");
#ifndef _WIN32
    test::TempDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), usualName().c_str()), 0);

    const std::string folder = privateTempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, usualName());
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(base_.path()));
    EXPECT_TRUE(S_ISDIR(modeOf(folder)));
    EXPECT_EQ(modeOf(folder) & 0777, 0700u);
    EXPECT_EQ(privateTempFolder(), folder) << "every preview should land in the same folder";
    EXPECT_EQ(modeOf(elsewhere.path()) & 0777, 0700u) << "the link's target was touched";
#endif
}

TEST_F(PrivateTempFolderTest, RefusesAFolderOfAnotherUser) {
    KESTRUM_LINUX_ONLY("$XDG_RUNTIME_DIR, POSIX modes and owners");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder owned by another user";
    ASSERT_EQ(::mkdir(usualName().c_str(), 0700), 0);
    ASSERT_EQ(::chmod(usualName().c_str(), 0777), 0);
    ASSERT_EQ(::chown(usualName().c_str(), 65534, 65534), 0);
    const std::string folder = privateTempFolder();
    EXPECT_NE(folder, usualName());
    EXPECT_EQ(modeOf(usualName()) & 0777, 0777u);
#endif
}

}  // namespace
}  // namespace kestrum::platform
