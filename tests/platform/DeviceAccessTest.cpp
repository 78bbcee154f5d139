// What a user refused a source is told: the reason and the way to access, which
// depends on who asks and on the group of the device node.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "TestSupport.h"
#include "platform/DeviceAccess.h"
#include "platform/Process.h"

namespace kestrum::platform {
namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(DeviceAccess, HintFitsTheUserAndTheDevice) {
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
    const char* device = std::getenv("KESTRUM_UDISKS_DEVICE");
    if (device == nullptr) GTEST_SKIP() << "run by udisks-access.sh as an ordinary user";
    const std::string problem = openProblem(device);
    if (std::string(std::getenv("KESTRUM_UDISKS_ALLOWED")) == "1") {
        EXPECT_EQ(problem, "");
    } else {
        EXPECT_TRUE(has(problem, "permission")) << problem;
        EXPECT_TRUE(has(problem, device)) << problem;
    }
}

TEST(Process, ExitStatusAndStartFailure) {
    EXPECT_EQ(runProgramAndWait("/bin/sh", {"sh", "-c", "exit 7"}), 7);
    std::string error;
    EXPECT_EQ(runProgramAndWait("/no/such/program", {"x"}, &error), -1);
    EXPECT_NE(error.find("/no/such/program"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrum::platform
