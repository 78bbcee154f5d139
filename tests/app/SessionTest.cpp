// The session's start-up values, the install step, and the worker handle and
// pause gate that every worker relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "app/PauseGate.h"
#include "app/Session.h"
#include "app/WorkerSlot.h"
#include "platform/Registry.h"

using namespace kestrum;

TEST(SessionTest, InitialValues) {
    Session s;
    const DeviceSlots slots = s.deviceSlots.load();
    EXPECT_EQ(slots[0], "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(slots[9], "\\\\.\\PhysicalDrive9");
    for (const auto& slot : slots) EXPECT_LT(slot.size(), kDevicePathBytes);
    EXPECT_EQ(s.selectedSlot.load(), 0);
    EXPECT_EQ(s.rangeEnd.load(), 0u);
    EXPECT_EQ(s.badSectorAnswer.load(), BadSectorAnswer::Retry);
    EXPECT_TRUE(s.fileTypes.empty());
    EXPECT_TRUE(s.foundFiles.empty());
    EXPECT_FALSE(s.scanThread.running());
    EXPECT_EQ(s.selectedDevicePath(), "\\\\.\\PhysicalDrive0");
    s.selectedSlot = 3;
    EXPECT_EQ(s.selectedDevicePath(), "\\\\.\\PhysicalDrive3");
}

// A device choice lands in the slots every read takes its path from: disks 0 to 9
// in their own slot, anything else in slot 0, and slot 0 never keeps an earlier
// drive once a numbered disk is chosen.
TEST(SessionTest, ChosenSourceIsKeptAndItsDeviceGoesIntoTheSlots) {
    Session s;
    s.chooseSource(SourceSpec::drive('D'));
    EXPECT_EQ(s.selectedDevicePath(), "\\\\.\\D:");
    s.chooseSource(SourceSpec::disk(3));
    EXPECT_EQ(s.selectedSlot.load(), 3);
    EXPECT_EQ(s.deviceSlots.load()[0], "\\\\.\\PhysicalDrive0") << "the drive is gone from slot 0";
    EXPECT_EQ(s.sourceSpec(), SourceSpec::disk(3));
    s.chooseSource(SourceSpec::disk(12));
    EXPECT_EQ(s.selectedSlot.load(), 0);
    EXPECT_EQ(s.selectedDevicePath(), "\\\\.\\PhysicalDrive12");
    s.chooseSource(SourceSpec::device("/dev/sdz"));
    EXPECT_EQ(s.sourceSpec().devicePath, "/dev/sdz");

    // An image leaves the device slots as they were.
    const SourceSpec image = SourceSpec::imageFolder("/media/images/", true);
    s.chooseSource(image);
    EXPECT_EQ(s.sourceSpec(), image);
    EXPECT_TRUE(s.sourceSpec().isImage());
    EXPECT_EQ(s.selectedDevicePath(), "/dev/sdz");
}

TEST(SessionTest, StartupValuesComeFromTheInstallRegistry) {
    test::ScopedRegistry registry;
    Session s;
    loadStartupValues(s);
    EXPECT_EQ(s.applicationFolder.load(), "") << "no FilePath value: empty";
    EXPECT_EQ(s.osFamily.load(), 'N');
    EXPECT_EQ(s.messageCaption.load(), "Kestrum for Digital Media");
    EXPECT_EQ(s.windowTitle.load(), "Kestrum for Digital Media");
    EXPECT_EQ(s.versionText.load(), "Version 1.0");
    const std::string data = s.dataFolder.load();
#ifdef _WIN32
    EXPECT_NE(data.find("\\share\\Kestrum for Digital Media"), std::string::npos) << data;
#else
    EXPECT_NE(data.find("/share/Kestrum for Digital Media"), std::string::npos) << data;
#endif

    ASSERT_TRUE(writeInstallRegistry("/opt/kestrum/bin", "/var/log/kestrum"));
    platform::Registry reg;
    const auto root = platform::RegistryRoot::ClassesRoot;
    EXPECT_EQ(reg.readValue(root, "Tav_DigitalMediaNTFS", "Activity Log"), "/var/log/kestrum");
    EXPECT_EQ(reg.readValue(root, "Tav_DigitalMediaNTFS", "Recovery Log"), "/var/log/kestrum");
    loadStartupValues(s);
    EXPECT_EQ(s.applicationFolder.load(), "/opt/kestrum/bin");
}

TEST(WorkerSlotTest, HandleIsSetBeforeTheBodyRunsAndClearedAtItsEnd) {
    WorkerSlot slot;
    for (int i = 0; i < 200; ++i) {
        std::atomic<bool> sawItself{false};
        ASSERT_TRUE(slot.start([&] { sawItself = slot.running(); }));
        slot.waitUntilIdle();
        EXPECT_TRUE(sawItself.load());
        EXPECT_FALSE(slot.running());
    }
}

TEST(WorkerSlotTest, RefusesASecondWorkerWhileOneRuns) {
    WorkerSlot slot;
    std::atomic<bool> release{false};
    ASSERT_TRUE(slot.start([&] {
        while (!release) std::this_thread::yield();
    }));
    EXPECT_FALSE(slot.start([] {}));
    release = true;
    slot.waitUntilIdle();
    EXPECT_TRUE(slot.start([] {}));
    slot.waitUntilIdle();
}

TEST(PauseGateTest, WorkerWaitsWhilePausedAndGoesOnAfterResume) {
    PauseGate gate;
    std::atomic<int> units{0};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            gate.pass();
            ++units;
            std::this_thread::yield();
        }
    });
    while (units < 10) std::this_thread::yield();
    gate.pause();
    // Once paused, at most the unit already past the gate completes.
    const int atPause = units.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(units.load(), atPause + 1);
    gate.resume();
    const int afterResume = units.load();
    while (units < afterResume + 10) std::this_thread::yield();
    stop = true;
    worker.join();
}
