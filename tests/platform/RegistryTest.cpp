// The registry store: persistence across processes, writers under the lock, and
// the Windows registry's rules for keys, names and values.
#include "platform/Registry.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <thread>

#include "TestSupport.h"

namespace kestrum::platform {
namespace {

constexpr auto kRoot = RegistryRoot::ClassesRoot;

#ifndef _WIN32
// Runs body in a child process and returns its exit status (0 = body returned true).
template <typename Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

TEST(RegistryTest, MissingStoreReadsAsEmpty) {
    test::ScopedRegistry scoped;
    Registry registry;
    EXPECT_EQ(registry.filePath(), scoped.path());
    EXPECT_FALSE(registry.readValue(kRoot, "Orv Windows", "Disk0").has_value());
    EXPECT_FALSE(registry.keyExists(kRoot, "Orv Windows"));
    EXPECT_TRUE(registry.subKeys(kRoot, "").empty());
    EXPECT_FALSE(registry.deleteKey(kRoot, "Orv Windows"));
    EXPECT_FALSE(registry.deleteValue(kRoot, "Orv Windows", "Disk0"));
}

TEST(RegistryTest, ValuesWrittenByAnotherProcessAreRead) {
    KESTRUM_LINUX_ONLY("fork");
#ifndef _WIN32
    test::ScopedRegistry scoped;
    ASSERT_EQ(inChild([] {
                  Registry probe;
                  return probe.writeValue(kRoot, "Orv Windows", "Disk0", "1") &&
                         probe.writeValue(kRoot, "Orv Windows\\Model", "Disk0", "QEMU HARDDISK");
              }),
              0);
    Registry registry;
    EXPECT_EQ(registry.readValue(kRoot, "Orv Windows", "Disk0").value_or("-"), "1");
    EXPECT_EQ(registry.readValue(kRoot, "Orv Windows\\Model", "Disk0").value_or("-"),
              "QEMU HARDDISK");
    // The other root is a separate tree.
    EXPECT_FALSE(registry.readValue(RegistryRoot::LocalMachine, "Orv Windows", "Disk0"));
#endif
}

TEST(RegistryTest, ConcurrentWritersLoseNothing) {
    KESTRUM_LINUX_ONLY("fork");
#ifndef _WIN32
    test::ScopedRegistry scoped;
    constexpr int kWriters = 4, kValues = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            Registry r;
            bool ok = true;
            for (int v = 0; v < kValues; ++v)
                ok &=
                    r.writeValue(kRoot, "Shared", "p" + std::to_string(w) + "_" + std::to_string(v),
                                 std::to_string(v));
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([w] {
            Registry r;
            for (int v = 0; v < kValues; ++v)
                r.writeValue(kRoot, "Shared", "t" + std::to_string(w) + "_" + std::to_string(v),
                             std::to_string(v));
        });
    for (auto& t : threads) t.join();
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Registry registry;
    EXPECT_EQ(registry.valueNames(kRoot, "Shared").size(), 2u * kWriters * kValues);
    for (int w = 0; w < kWriters; ++w)
        for (int v = 0; v < kValues; ++v) {
            const std::string suffix = std::to_string(w) + "_" + std::to_string(v);
            EXPECT_EQ(registry.readValue(kRoot, "Shared", "p" + suffix).value_or("-"),
                      std::to_string(v));
            EXPECT_EQ(registry.readValue(kRoot, "Shared", "t" + suffix).value_or("-"),
                      std::to_string(v));
        }
#endif
}

TEST(RegistryTest, DeleteKeyTakesItsSubKeysAndNothingElse) {
    test::ScopedRegistry scoped;
    Registry r;
    ASSERT_TRUE(r.writeValue(kRoot, "Orv Windows", "Disk0", "1"));
    ASSERT_TRUE(r.writeValue(kRoot, "Orv Windows\\Model", "Disk0", "m"));
    ASSERT_TRUE(r.writeValue(kRoot, "Orv Windows\\Model\\Deeper", "x", "y"));
    ASSERT_TRUE(r.writeValue(kRoot, "Orv Windows2", "keep", "1"));
    ASSERT_TRUE(r.writeValue(RegistryRoot::LocalMachine, "Orv Windows", "keep", "1"));
    EXPECT_EQ(r.subKeys(kRoot, "Orv Windows"), std::vector<std::string>{"Model"});

    ASSERT_TRUE(r.deleteKey(kRoot, "orv windows"));
    EXPECT_FALSE(r.keyExists(kRoot, "Orv Windows"));
    EXPECT_FALSE(r.keyExists(kRoot, "Orv Windows\\Model\\Deeper"));
    EXPECT_FALSE(r.readValue(kRoot, "Orv Windows\\Model", "Disk0"));
    EXPECT_EQ(r.readValue(kRoot, "Orv Windows2", "keep").value_or("-"), "1");
    EXPECT_EQ(r.readValue(RegistryRoot::LocalMachine, "Orv Windows", "keep").value_or("-"), "1");
    // A root itself is not a key that can go.
    EXPECT_FALSE(r.deleteKey(kRoot, ""));
    EXPECT_TRUE(r.keyExists(kRoot, "Orv Windows2"));
}

TEST(RegistryTest, KeysAndNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    test::ScopedRegistry scoped;
    Registry r;
    ASSERT_TRUE(r.createKey(kRoot, "Tav_DigitalMediaNTFS"));
    ASSERT_TRUE(r.writeValue(kRoot, "TAV_DIGITALMEDIANTFS", "FilePath", "/opt/a"));
    ASSERT_TRUE(r.writeValue(kRoot, "tav_digitalmediantfs", "FILEPATH", "/opt/b"));
    EXPECT_EQ(r.readValue(kRoot, "Tav_DigitalMediaNTFS", "filepath").value_or("-"), "/opt/b");
    EXPECT_EQ(r.valueNames(kRoot, "Tav_DigitalMediaNTFS"), std::vector<std::string>{"FilePath"});
    EXPECT_EQ(r.subKeys(kRoot, ""), std::vector<std::string>{"Tav_DigitalMediaNTFS"});
    EXPECT_TRUE(r.deleteValue(kRoot, "TAV_DigitalMediaNTFS", "filePATH"));
    EXPECT_FALSE(r.readValue(kRoot, "Tav_DigitalMediaNTFS", "FilePath"));
    EXPECT_TRUE(r.keyExists(kRoot, "tav_digitalmediantfs"));  // an emptied key stays
}

TEST(RegistryTest, AwkwardTextRoundTrips) {
    test::ScopedRegistry scoped;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"quote \"name\"", "say \"hi\""},
        {"back\\slash", "C:\\Program Files\\Kestrum\\"},
        {"newline", "line one\nline two\n"},
        {"escape-like", "\\n is not a newline, \\\" is not a quote"},
        {"carriage", "a\r\nb\r"},
        {"brackets", "[HKEY_CLASSES_ROOT\\fake]"},
        {"equals=sign", "\"=\""},
        {"empty", ""},
    };
    {
        Registry writer;
        for (const auto& [name, value] : cases)
            ASSERT_TRUE(writer.writeValue(kRoot, "Odd\\Key [1]", name, value)) << name;
    }
    Registry reader;
    for (const auto& [name, value] : cases)
        EXPECT_EQ(reader.readValue(kRoot, "Odd\\Key [1]", name).value_or("<missing>"), value)
            << name;
    EXPECT_EQ(reader.valueNames(kRoot, "Odd\\Key [1]").size(), cases.size());
    EXPECT_FALSE(reader.keyExists(kRoot, "fake"));
}

TEST(RegistryTest, KeyNameThatWouldBreakTheFileIsRefused) {
    KESTRUM_LINUX_ONLY("the registry file of Linux builds");
#ifndef _WIN32
    test::ScopedRegistry scoped;
    Registry r;
    ASSERT_TRUE(r.writeValue(kRoot, "Good", "v", "1"));
    EXPECT_FALSE(r.writeValue(kRoot, "Bad\nKey", "v", "1"));
    EXPECT_FALSE(r.createKey(kRoot, "Bad\nKey\\Sub"));
    EXPECT_FALSE(r.lastError().empty());
    EXPECT_EQ(r.readValue(kRoot, "Good", "v").value_or("-"), "1");
    EXPECT_EQ(r.subKeys(kRoot, ""), std::vector<std::string>{"Good"});
#endif
}

// A store that exists but cannot be read must not be replaced by one holding
// only the new value. Run as another user, since root reads any file.
TEST(RegistryTest, UnreadableStoreIsNotOverwritten) {
    KESTRUM_LINUX_ONLY("fork");
#ifndef _WIN32
    test::ScopedRegistry scoped;
    Registry r;
    ASSERT_TRUE(r.writeValue(kRoot, "Orv Windows", "Disk0", "1"));
    const std::string folder = scoped.path().substr(0, scoped.path().rfind('/'));
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod((scoped.path() + ".lock").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(scoped.path().c_str(), 0), 0);
    const bool root = ::geteuid() == 0;
    const int status = inChild([&] {
        if (root && ::setuid(65534) != 0) return false;
        return !Registry().writeValue(kRoot, "Orv Windows", "Disk1", "1");
    });
    ::chmod(scoped.path().c_str(), 0600);
    EXPECT_EQ(status, 0) << "the write over an unreadable store should fail";
    EXPECT_EQ(r.readValue(kRoot, "Orv Windows", "Disk0").value_or("-"), "1");
#endif
}

}  // namespace
}  // namespace kestrum::platform
