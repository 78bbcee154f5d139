// The two logs: bytes on disk, the size restart, the folder fallbacks, and
// appends from several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Session.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

using namespace kestrum;
using kestrum::test::readFile;
using kestrum::test::TempDir;

namespace {

std::string asText(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

class RecordingPrompter : public SilentPrompter {
public:
    void showMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool confirm(const std::string& text) override {
        confirmations.push_back(text);
        return answer;
    }
    bool openInTextViewer(const std::string& path) override {
        opened.push_back(path);
        return true;
    }
    bool answer = false;
    std::vector<std::string> messages, confirmations, opened;
    std::vector<MessageIcon> icons;
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(writeInstallRegistry(app.path(), logs.path()));
        setPrompter(&prompts);
    }
    void TearDown() override { setPrompter(nullptr); }

    test::ScopedRegistry registry;
    TempDir app, logs;
    RecordingPrompter prompts;
};

TEST_F(LogTest, AppendsLineBreakThenTextAndNothingAfter) {
    const std::string path = logs.file("Activity Log.txt");
    EXPECT_EQ(logPath(LogKind::Activity), path);
    EXPECT_EQ(appendLog(LogKind::Activity, "All Extensions"), 1);
    EXPECT_EQ(asText(readFile(path)), "\r\nAll Extensions");
    EXPECT_EQ(appendLog(LogKind::Activity, "All Extensions"), 1);
    EXPECT_EQ(asText(readFile(path)), "\r\nAll Extensions\r\nAll Extensions");
    // The recovery log is a file of its own beside it.
    EXPECT_EQ(appendLog(LogKind::Recovery, "\r\nSaving Report :"), 1);
    EXPECT_EQ(asText(readFile(logs.file("Recovery Log.txt"))), "\r\n\r\nSaving Report :");
}

TEST_F(LogTest, LongTextIsCutAt200BytesOnACharacterBoundary) {
    const std::string path = logs.file("Activity Log.txt");
    appendLog(LogKind::Activity, std::string(250, 'x'));
    EXPECT_EQ(readFile(path).size(), 2u + 200u);

    ::unlink(path.c_str());
    // 199 ASCII bytes then a two-byte character: keeping half of it would leave
    // an invalid byte in the log, so the whole character goes.
    appendLog(LogKind::Activity, std::string(199, 'a') + "\xC3\xA9" + "tail");
    EXPECT_EQ(asText(readFile(path)), "\r\n" + std::string(199, 'a'));
}

TEST_F(LogTest, RestartsOnlyWhenLargerThanFiveMiB) {
    const std::string path = logs.file("Activity Log.txt");
    test::writeFile(path, std::string(5242880, 'o'));
    appendLog(LogKind::Activity, "kept");
    EXPECT_EQ(readFile(path).size(), 5242880u + 6u);

    test::writeFile(path, std::string(5242881, 'o'));
    appendLog(LogKind::Activity, "fresh");
    EXPECT_EQ(asText(readFile(path)), "\r\nfresh");
}

TEST_F(LogTest, ReadOnlyLogIsMadeWritableAndAppended) {
    const std::string path = logs.file("Recovery Log.txt");
    test::writeFile(path, std::string("\r\nold"));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(appendLog(LogKind::Recovery, "new"), 1);
    EXPECT_EQ(asText(readFile(path)), "\r\nold\r\nnew");
    // Root could write regardless, so check the mode itself was cleared.
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(LogTest, FolderFallsBackToFilePathThenToTheUsersDataFolder) {
    KESTRUM_LINUX_ONLY("$XDG_DATA_HOME and POSIX folder modes");
#ifndef _WIN32
    platform::Registry reg;
    const auto root = platform::RegistryRoot::ClassesRoot;
    reg.writeValue(root, kInstallKey, "Activity Log", logs.path() + "/missing-folder");
    EXPECT_EQ(logPath(LogKind::Activity), app.file("Activity Log.txt"));
    appendLog(LogKind::Activity, "here");
    EXPECT_EQ(asText(readFile(app.file("Activity Log.txt"))), "\r\nhere");

    reg.writeValue(root, kInstallKey, "Activity Log", "");
    reg.writeValue(root, kInstallKey, "FilePath", app.path() + "/");
    EXPECT_EQ(logPath(LogKind::Activity), app.file("Activity Log.txt"));

    // Without any value: the user's data folder, made private, never the root.
    reg.deleteKey(root, kInstallKey);
    TempDir home;
    const char* savedData = std::getenv("XDG_DATA_HOME");
    const std::string keptData = savedData ? savedData : "";
    const std::string keptHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    for (const std::string& data : {home.file("data"), std::string()}) {
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        const std::string folder =
            (data.empty() ? home.file(".local/share") : data) + "/kestrum/logs";
        EXPECT_EQ(logPath(LogKind::Recovery), folder + "/Recovery Log.txt");
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(appendLog(LogKind::Activity, "kept"), 1);
        EXPECT_EQ(asText(readFile(folder + "/Activity Log.txt")), "\r\nkept");
    }
    // Nowhere to make it: nothing is written, least of all at the root.
    ::setenv("XDG_DATA_HOME", home.file("file/below").c_str(), 1);
    test::writeFile(home.file("file"), std::string("a file, not a folder"));
    EXPECT_EQ(logPath(LogKind::Activity), "");
    EXPECT_EQ(appendLog(LogKind::Activity, "lost"), 0);
    ::setenv("HOME", keptHome.c_str(), 1);
    if (savedData)
        ::setenv("XDG_DATA_HOME", keptData.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
#endif
}

TEST_F(LogTest, ConcurrentAppendsLoseNothing) {
    constexpr int kPerThread = 400;
    auto writer = [](char tag) {
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(appendLog(LogKind::Activity, std::string(1, tag) + std::to_string(i)), 1);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string text = asText(readFile(logs.file("Activity Log.txt")));
    int lines = 0, fromA = 0;
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) {
        ++lines;
        if (pos + 2 < text.size() && text[pos + 2] == 'a') ++fromA;
    }
    EXPECT_EQ(lines, 2 * kPerThread);
    EXPECT_EQ(fromA, kPerThread);
}

TEST_F(LogTest, ViewingTellsWhenMissingElseOpensTheViewer) {
    viewLog(LogKind::Activity);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "Activity Report file not found");
    EXPECT_EQ(prompts.icons[0], MessageIcon::Information);
    EXPECT_TRUE(prompts.opened.empty());

    viewLog(LogKind::Recovery);
    EXPECT_EQ(prompts.messages.back(), "Recovery Log file not found");

    appendLog(LogKind::Recovery, "x");
    viewLog(LogKind::Recovery);
    ASSERT_EQ(prompts.opened.size(), 1u);
    EXPECT_EQ(prompts.opened[0], logs.file("Recovery Log.txt"));
}

TEST_F(LogTest, ClearingAsksAndDeletesOnlyOnOk) {
    clearLog(LogKind::Activity);
    EXPECT_EQ(prompts.messages.back(), "Activity Log.txt file not found");
    EXPECT_TRUE(prompts.confirmations.empty());

    const std::string path = logs.file("Recovery Log.txt");
    appendLog(LogKind::Recovery, "keep me");
    prompts.answer = false;
    clearLog(LogKind::Recovery);
    EXPECT_EQ(prompts.confirmations.back(), "Are you sure you want to delete Recovery History");
    EXPECT_EQ(asText(readFile(path)), "\r\nkeep me");

    ::chmod(path.c_str(), 0444);
    prompts.answer = true;
    clearLog(LogKind::Recovery);
    EXPECT_FALSE(platform::fileExists(path));

    appendLog(LogKind::Activity, "a");
    clearLog(LogKind::Activity);
    EXPECT_EQ(prompts.confirmations.back(), "Are you sure you want to delete Activity Report");
    EXPECT_FALSE(platform::fileExists(logs.file("Activity Log.txt")));
}

}  // namespace
