// What a user refused a source is told: the reason and the way to access, which
// depends on who asks and on the group of the device node.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "LoopDevice.h"
#include "TestSupport.h"
#include "platform/DeviceAccess.h"
#include "platform/Process.h"
#include "platform/UDisks.h"

namespace kestrum::platform {
namespace {

[[maybe_unused]] bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(DeviceAccess, HintFitsTheUserAndTheDevice) {
    KESTRUM_LINUX_ONLY("the Linux refusal texts (polkit, disk group)");
#ifndef _WIN32
    const std::string member = accessHint(EACCES, true, false, "disk", "/dev/sdb");
    EXPECT_TRUE(has(member, "group \"disk\"")) << member;
    EXPECT_TRUE(has(member, "/dev/sdb")) << member;
    EXPECT_TRUE(has(accessHint(EACCES, true, false, "root", "/dev/sdb"), "as root"));
    const std::string root = accessHint(EPERM, true, true, "root", "/dev/vda");
    EXPECT_TRUE(has(root, "even to root")) << root;
    EXPECT_TRUE(has(accessHint(ENXIO, true, false, "disk", "/dev/sdb"), "attach it"));
    EXPECT_TRUE(
        has(accessHint(EACCES, false, false, "users", "/x/Image0.img"), "owner of /x/Image0.img"));
    EXPECT_EQ(accessHint(EIO, true, false, "disk", "/dev/sdb"), "");
#endif
}

TEST(DeviceAccess, OpenProblemNamesTheReason) {
    test::TempDir dir;
    test::writeFile(dir.file("readable"), "x");
    EXPECT_EQ(openProblem(dir.file("readable")), "");
    const std::string missing = openProblem(dir.file("missing"));
    EXPECT_EQ(missing.rfind("No such file or directory", 0), 0u) << missing;
}

// Run by udisks-access.sh as an ordinary user, with the device in
// KESTRUM_UDISKS_DEVICE and whether polkit allows it in KESTRUM_UDISKS_ALLOWED:
// the source page's check on Next goes through the disk service too.
TEST(DeviceAccess, DiskServiceDecidesForAnOrdinaryUser) {
    KESTRUM_LINUX_ONLY("UDisks2");
#ifndef _WIN32
    const char* device = std::getenv("KESTRUM_UDISKS_DEVICE");
    if (device == nullptr) GTEST_SKIP() << "run by udisks-access.sh as an ordinary user";
    const std::string problem = openProblem(device);
    if (std::string(std::getenv("KESTRUM_UDISKS_ALLOWED")) == "1") {
        EXPECT_EQ(problem, "");
    } else {
        EXPECT_TRUE(has(problem, "permission")) << problem;
        EXPECT_TRUE(has(problem, device)) << problem;
    }
#endif
}

// The descriptor the disk service hands over is read only when it is the device
// asked for, opened read-only: a fake or mistaken service gets nothing read.
TEST(DeviceAccess, AHandedDescriptorMustBeTheDeviceAskedForReadOnly) {
    KESTRUM_LINUX_ONLY("descriptors handed over by UDisks2");
#ifndef _WIN32
    if (const std::string why = test::loopUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    test::writeFile(dir.file("a.img"), std::vector<uint8_t>(1 << 20, 1));
    test::LoopDevice a(dir.file("a.img")), b(dir.file("a.img"));
    ASSERT_TRUE(a.ok() && b.ok()) << a.why() << b.why();
    auto problem = [&](const std::string& opened, int flags) {
        const int fd = ::open(opened.c_str(), flags | O_CLOEXEC);
        EXPECT_GE(fd, 0) << opened;
        const std::string text = platform::handedDescriptorProblem(fd, a.node());
        ::close(fd);
        return text;
    };
    EXPECT_EQ(problem(a.node(), O_RDONLY), "");
    EXPECT_NE(problem(a.node(), O_RDWR).find("open for writing"), std::string::npos);
    EXPECT_NE(problem(b.node(), O_RDONLY).find("something else"), std::string::npos);
    EXPECT_NE(problem(dir.file("a.img"), O_RDONLY).find("something else"), std::string::npos);
#endif
}

TEST(Process, ExitStatusAndStartFailure) {
    KESTRUM_LINUX_ONLY("a POSIX shell");
#ifndef _WIN32
    EXPECT_EQ(runProgramAndWait("/bin/sh", {"sh", "-c", "exit 7"}), 7);
    std::string error;
    EXPECT_EQ(runProgramAndWait("/no/such/program", {"x"}, &error), -1);
    EXPECT_NE(error.find("/no/such/program"), std::string::npos) << error;
#endif
}

}  // namespace
}  // namespace kestrum::platform
