// The Windows platform layer on a Windows system (wine in CI): sources read
// read-only and positioned, unbuffered reads aligned for the caller, the fault
// seam, output files and folders that never write through a link, the registry
// store, folders and device names, and the programs' UTF-8 command lines.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "app/WorkerSlot.h"
#include "platform/DeviceAccess.h"
#include "platform/Devices.h"
#include "platform/DurableReplace.h"
#include "platform/Files.h"
#include "platform/FolderHandle.h"
#include "platform/Folders.h"
#include "platform/OutputFile.h"
#include "platform/PositionedFile.h"
#include "platform/Process.h"
#include "platform/RecordFile.h"
#include "platform/Registry.h"
#include "platform/SourceFile.h"
#include "platform/win32/ReadFaults.h"

namespace kestrum::platform {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// Bytes whose value tells their offset apart (a shifted read cannot pass).
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 509) & 0xff);
    return bytes;
}

std::string slurp(const std::string& path) {
    std::string text;
    EXPECT_TRUE(readWholeFile(path, text)) << path;
    return text;
}

TEST(Win32SourceFileTest, ReadsPositionedWholeAndShortAtTheEnd) {
    TempDir dir;
    const std::string path = dir.path() + "\\image.img";
    const auto bytes = pattern(3 * 4096 + 100);
    test::writeFile(path, bytes);
    const auto file = SourceFile::open(path);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->isBlockDevice());
    EXPECT_EQ(file->size(), bytes.size());
    std::vector<uint8_t> got(5000);
    ASSERT_EQ(file->readAt(777, got.data(), got.size()), 5000);
    EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 777, got.size()));
    // Past the end: what is there, then nothing.
    EXPECT_EQ(file->readAt(bytes.size() - 10, got.data(), 512), 10);
    EXPECT_EQ(file->readAt(bytes.size() + 4096, got.data(), 512), 0);
    // Two threads on one handle never disturb each other's position.
    std::vector<uint8_t> a(4096), b(4096);
    std::thread t1([&] {
        for (int i = 0; i < 200; ++i) file->readAt(0, a.data(), a.size());
    });
    std::thread t2([&] {
        for (int i = 0; i < 200; ++i) file->readAt(8192, b.data(), b.size());
    });
    t1.join();
    t2.join();
    EXPECT_EQ(0, std::memcmp(a.data(), bytes.data(), a.size()));
    EXPECT_EQ(0, std::memcmp(b.data(), bytes.data() + 8192, b.size()));
}

TEST(Win32SourceFileTest, UnbufferedReadsGiveTheSameBytesForAnyOffsetAndSize) {
    TempDir dir;
    const std::string path = dir.path() + "\\image.img";
    const auto bytes = pattern(64 * 1024 + 300);
    test::writeFile(path, bytes);
    const auto file = SourceFile::open(path, nullptr, SourceFile::Caching::Unbuffered);
    ASSERT_TRUE(file);
    for (const auto [offset, size] : std::vector<std::pair<uint64_t, size_t>>{{0, 512},
                                                                              {512, 512},
                                                                              {100, 3},
                                                                              {4095, 2},
                                                                              {4096 * 3 + 17, 9000},
                                                                              {65536, 300},
                                                                              {65536 + 200, 512}}) {
        std::vector<uint8_t> got(size, 0xee);
        const ssize_t n = file->readAt(offset, got.data(), size);
        const size_t expected = std::min<size_t>(size, bytes.size() - offset);
        ASSERT_EQ(n, static_cast<ssize_t>(expected)) << offset << "+" << size;
        EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + offset, expected))
            << offset << "+" << size;
    }
}

TEST(Win32SourceFileTest, RefusesFoldersAndMissingFilesWithTheReason) {
    TempDir dir;
    std::string error;
    int err = 0;
    EXPECT_FALSE(SourceFile::open(dir.path(), &error, SourceFile::Caching::Normal, &err));
    EXPECT_EQ(err, EISDIR);
    EXPECT_FALSE(
        SourceFile::open(dir.path() + "\\none.img", &error, SourceFile::Caching::Normal, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(error, std::strerror(ENOENT));
}

TEST(Win32SourceFileTest, SourceStaysWritableByOthersAndUnchangedByReading) {
    // Windows keeps a medium in use while it is read: the source's sharing lets
    // other programs go on, and the source itself never asks for write access.
    TempDir dir;
    const std::string path = dir.path() + "\\image.img";
    const auto bytes = pattern(8192);
    test::writeFile(path, bytes);
    const auto file = SourceFile::open(path);
    ASSERT_TRUE(file);
    const HANDLE other =
        CreateFileW(fs::path(path).wstring().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE) << "the source's sharing shuts others out";
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    std::vector<uint8_t> got(8192);
    ASSERT_EQ(file->readAt(0, got.data(), got.size()), 8192);
    EXPECT_EQ(test::readFile(path), bytes);
}

TEST(Win32SourceFileTest, FaultSeamFailsOnlyReadsThatTouchTheBadSectors) {
    TempDir dir;
    const std::string path = dir.path() + "\\failing.img";
    const auto bytes = pattern(64 * 512);
    test::writeFile(path, bytes);
    setReadFaults(path, {{10 * 512, 12 * 512}});  // sectors 10 and 11
    const auto normal = SourceFile::open(path);
    const auto unbuffered = SourceFile::open(path, nullptr, SourceFile::Caching::Unbuffered);
    setReadFaults(path, {});
    const auto healthy = SourceFile::open(path);
    ASSERT_TRUE(normal && unbuffered && healthy);
    std::vector<uint8_t> got(8 * 512);
    for (const auto& f : {normal, unbuffered}) {
        errno = 0;
        EXPECT_EQ(f->readAt(8 * 512, got.data(), got.size()), -1);  // sectors 8..15
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(f->readAt(11 * 512, got.data(), 512), -1);
        ASSERT_EQ(f->readAt(9 * 512, got.data(), 512), 512);  // the neighbours read
        EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 9 * 512, 512));
        ASSERT_EQ(f->readAt(12 * 512, got.data(), 512), 512);
    }
    // Cleared faults do not reach sources opened afterwards.
    EXPECT_EQ(healthy->readAt(8 * 512, got.data(), got.size()), static_cast<ssize_t>(got.size()));
    EXPECT_TRUE(touchesFault({{1024, 1536}}, 1023, 2));
    EXPECT_FALSE(touchesFault({{1024, 1536}}, 1536, 512));
    EXPECT_FALSE(touchesFault({{1024, 1536}}, 512, 512));
}

TEST(Win32OutputTest, CreateReplacesReadOnlyLeftoversAndWritesEveryByte) {
    TempDir dir;
    const std::string path = dir.path() + "\\File1.jpg";
    test::writeFile(path, std::string("old contents"));
    SetFileAttributesW(fs::path(path).wstring().c_str(), FILE_ATTRIBUTE_READONLY);
    int error = 0;
    auto out = OutputFile::create(path, &error);
    ASSERT_TRUE(out) << std::strerror(error);
    const auto bytes = pattern(100000);
    ASSERT_TRUE(out->writeAll(bytes.data(), bytes.size(), &error));
    ASSERT_TRUE(out->append("end", 3, &error));
    EXPECT_EQ(out->size(), bytes.size() + 3);
    ASSERT_TRUE(out->close(&error));
    auto read = test::readFile(path);
    ASSERT_EQ(read.size(), bytes.size() + 3);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), read.begin()));
}

TEST(Win32OutputTest, FolderHandleMakesSubfoldersRenamesAndComparesInPlace) {
    TempDir dir;
    int error = 0;
    const auto top = FolderHandle::open(dir.path(), &error);
    ASSERT_TRUE(top) << std::strerror(error);
    const auto jpeg = top->subfolder("JPEG", &error);
    ASSERT_TRUE(jpeg) << std::strerror(error);
    EXPECT_TRUE(directoryExists(dir.path() + "\\JPEG"));
    for (const char* name : {"a.part", "b.jpg"}) {
        auto f = jpeg->create(name, &error);
        ASSERT_TRUE(f) << std::strerror(error);
        ASSERT_TRUE(f->writeAll("same bytes", 10));
        ASSERT_TRUE(f->close());
    }
    EXPECT_TRUE(jpeg->has("a.part"));
    EXPECT_TRUE(jpeg->sameContents("a.part", "b.jpg"));
    // Without replace an existing name is refused and both stay.
    EXPECT_FALSE(jpeg->rename("a.part", "b.jpg", false, &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_TRUE(jpeg->has("a.part"));
    EXPECT_TRUE(jpeg->rename("a.part", "c.jpg", false, &error));
    EXPECT_FALSE(jpeg->has("a.part"));
    EXPECT_TRUE(jpeg->rename("c.jpg", "b.jpg", true, &error));
    EXPECT_FALSE(jpeg->has("c.jpg"));
    EXPECT_TRUE(jpeg->remove("b.jpg"));
    EXPECT_TRUE(jpeg->remove("b.jpg"));  // nothing left is success
    EXPECT_EQ(jpeg->writeProblem(), 0);
    // A file in the place of a folder is refused, not written into.
    test::writeFile(dir.path() + "\\PNG", std::string("x"));
    EXPECT_FALSE(top->subfolder("PNG", &error));
    EXPECT_EQ(error, ENOTDIR);
}

TEST(Win32OutputTest, PositionedFileWritesGrowsAndKeepsWhatIsThere) {
    TempDir dir;
    const std::string path = dir.path() + "\\Image0.img";
    int error = 0;
    {
        auto f = PositionedFile::open(path, true, &error);
        ASSERT_TRUE(f) << std::strerror(error);
        ASSERT_TRUE(f->writeAt(4096, "tail", 4, &error));
        ASSERT_TRUE(f->writeAt(0, "head", 4, &error));
        ASSERT_TRUE(f->extendTo(10000, &error));
        ASSERT_TRUE(f->extendTo(5000, &error));  // never shrinks
        EXPECT_EQ(f->size(), 10000u);
        ASSERT_TRUE(f->sync(&error));
        ASSERT_TRUE(f->close(&error));
    }
    auto f = PositionedFile::open(path, false, &error);  // resumed: kept as it is
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size(), 10000u);
    ASSERT_TRUE(f->resize(4100, &error));
    ASSERT_TRUE(f->close());
    const auto bytes = test::readFile(path);
    ASSERT_EQ(bytes.size(), 4100u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "head");
    EXPECT_EQ(std::string(bytes.begin() + 4096, bytes.begin() + 4100), "tail");
    EXPECT_EQ(bytes[2000], 0);
    EXPECT_GE(allocatedBytes(path), 1u);
    EXPECT_FALSE(PositionedFile::open(dir.path(), false, &error));
}

TEST(Win32OutputTest, DurableReplaceSwapsWholeFilesAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.path() + "\\Image0.map";
    std::string error;
    ASSERT_TRUE(replaceDurably(path, "first\n", &error)) << error;
    ASSERT_TRUE(replaceDurably(path, "second, longer\n", &error)) << error;
    EXPECT_EQ(slurp(path), "second, longer\n");
    EXPECT_FALSE(entryExists(path + ".tmp"));
    EXPECT_FALSE(replaceDurably(dir.path() + "\\missing\\x.map", "x", &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(Win32FilesTest, RecordsAreReadWholeOnlyFromPlainFilesOfBoundedSize) {
    TempDir dir;
    std::string text, error;
    const std::string map = dir.path() + "\\Image0.map";
    EXPECT_EQ(readRecordFile(map, 1 << 20, "The map", text, error), RecordRead::Missing);
    test::writeFile(map, std::string("# Mapfile\r\n0x00000000  +  1\r\n"));
    ASSERT_EQ(readRecordFile(map, 1 << 20, "The map", text, error), RecordRead::Read) << error;
    EXPECT_EQ(text, "# Mapfile\r\n0x00000000  +  1\r\n");  // bytes as stored
    EXPECT_EQ(readRecordFile(map, 10, "The map", text, error), RecordRead::Refused);
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    EXPECT_EQ(readRecordFile(dir.path(), 1 << 20, "The map", text, error), RecordRead::Refused);
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    // A disk or volume named as a record is never opened as one.
    EXPECT_EQ(readRecordFile("\\\\.\\C:", 1 << 20, "The map", text, error), RecordRead::Refused);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(Win32FilesTest, EntriesFoldersAndVolumeFacts) {
    TempDir dir;
    const std::string nested = dir.path() + "\\a\\b/c";
    std::string error;
    ASSERT_TRUE(createDirectories(nested, &error)) << error;
    EXPECT_TRUE(directoryExists(nested));
    const std::string file = dir.path() + "\\a\\f.txt";
    test::writeFile(file, std::string("12345"));
    EXPECT_FALSE(createDirectories(file, &error));
    EXPECT_EQ(regularFileSize(file), 5u);
    EXPECT_FALSE(regularFileSize(nested));
    EXPECT_TRUE(sameFile(file, dir.path() + "/a/./F.TXT"));
    EXPECT_FALSE(sameFile(file, nested));
    EXPECT_FALSE(removeEntry(nested));  // a folder is never removed
    SetFileAttributesW(fs::path(file).wstring().c_str(), FILE_ATTRIBUTE_READONLY);
    makeWritable(file);
    EXPECT_EQ(GetFileAttributesW(fs::path(file).wstring().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(removeEntry(file));
    EXPECT_FALSE(entryExists(file));
    EXPECT_TRUE(freeBytesOf(dir.path()).has_value());
    EXPECT_GE(blockSizeOf(dir.path()), 512u);
    EXPECT_FALSE(isBlockDevice(dir.path()));
}

TEST(Win32FoldersTest, PathsUseTheBackslashAndNamesMatchWithoutCase) {
    EXPECT_EQ(joinPath("C:\\Data\\", "\\gui2.bmp"), "C:\\Data\\gui2.bmp");
    EXPECT_EQ(joinPath("C:/Data", "Image0.img"), "C:/Data\\Image0.img");
    TempDir dir;
    test::writeFile(dir.path() + "\\IMAGE0.IMG", std::string("x"));
    const auto found = findFileNoCase(dir.path(), "image0.img");
    ASSERT_TRUE(found);
    EXPECT_TRUE(fileExists(*found));
    EXPECT_EQ(findAllNoCase(dir.path(), "Image0.Img").size(), 1u);
    EXPECT_FALSE(findFileNoCase(dir.path(), "image1.img"));
    const std::string temp = privateTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(directoryExists(temp));
    // The logs go below %LOCALAPPDATA%.
    const std::string local = dir.path() + "\\Local";
    ASSERT_TRUE(createDirectory(local));
    _putenv_s("LOCALAPPDATA", local.c_str());
    const std::string logs = defaultLogFolder();
    _putenv_s("LOCALAPPDATA", "");
    EXPECT_EQ(logs, local + "\\Kestrum\\Logs");
    EXPECT_TRUE(directoryExists(logs));
    EXPECT_TRUE(fileExists(programFolder() + "\\test_win32.exe"));
}

TEST(Win32RegistryTest, StoresKeysAndValuesInTheUsersHive) {
    TempDir dir;
    Registry store(dir.path() + "\\registry");
    Registry other(dir.path() + "\\other");
    const auto root = RegistryRoot::LocalMachine;
    ASSERT_TRUE(store.writeValue(root, "SOFTWARE\\Orv\\Tav", "FilePath", "C:\\Program Files\\K"));
    ASSERT_TRUE(store.writeValue(root, "Software\\orv\\TAV", "Owner", "Jürgen 写真"));
    EXPECT_EQ(store.readValue(root, "software\\ORV\\tav", "FilePath"), "C:\\Program Files\\K");
    EXPECT_EQ(store.readValue(root, "SOFTWARE\\Orv\\Tav", "Owner"), "Jürgen 写真");
    EXPECT_FALSE(store.readValue(RegistryRoot::ClassesRoot, "SOFTWARE\\Orv\\Tav", "FilePath"));
    EXPECT_FALSE(other.keyExists(root, "SOFTWARE\\Orv"));  // stores stay apart
    EXPECT_TRUE(store.keyExists(root, "SOFTWARE\\Orv"));
    ASSERT_TRUE(store.createKey(root, "SOFTWARE\\Orv\\Alpha"));
    EXPECT_EQ(store.subKeys(root, "SOFTWARE\\Orv"), (std::vector<std::string>{"Alpha", "Tav"}));
    EXPECT_EQ(store.valueNames(root, "SOFTWARE\\Orv\\Tav").size(), 2u);
    EXPECT_TRUE(store.deleteValue(root, "SOFTWARE\\Orv\\Tav", "Owner"));
    EXPECT_FALSE(store.deleteValue(root, "SOFTWARE\\Orv\\Tav", "Owner"));
    EXPECT_TRUE(store.deleteKey(root, "SOFTWARE"));
    EXPECT_FALSE(store.keyExists(root, "SOFTWARE\\Orv\\Tav"));
    EXPECT_FALSE(store.deleteKey(root, "SOFTWARE"));
    EXPECT_FALSE(store.deleteKey(root, ""));
}

TEST(Win32DevicesTest, DeviceNamesAreWindowsOwnAndVolumesMapToTheirDisk) {
    EXPECT_EQ(resolveDevicePath("C:\\cards\\card.img"), "C:\\cards\\card.img");
    EXPECT_EQ(resolveDevicePath("\\\\.\\PhysicalDrive97"), "");
    EXPECT_EQ(resolveDevicePath("\\\\.\\Q:"), "");
    const auto drives = logicalDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().deviceNode, std::string("\\\\.\\") + drives.front().letter + ":");
    // Saving is refused onto the disk being read: a folder and its volume name
    // the same disk.
    const std::string system = blockDeviceOf("C:\\");
    EXPECT_EQ(blockDeviceOf("C:\\windows\\system32"), system);
    EXPECT_EQ(blockDeviceOf("\\\\.\\C:"), system);
    for (const auto& disk : physicalDisks())
        EXPECT_EQ(disk.deviceNode, "\\\\.\\PhysicalDrive" + std::to_string(disk.number));
}

TEST(Win32ProgramTest, ArgumentsReachTheProgramAsUtf8AndExitCodesComeBack) {
    // A card image in a folder named in three scripts: the tool started with it
    // finds the file, so the name arrived whole.
    TempDir dir;
    const std::string folder = dir.path() + "\\Bilder Müller 写真";
    ASSERT_TRUE(createDirectory(folder));
    const std::string image = folder + "\\card one.img";
    const auto bytes = pattern(64 * 512);
    std::ofstream(fs::u8path(image), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(fileExists(image));
    const std::string tool = programFolder() + "\\kestrum-recover.exe";
    std::string error, errorOutput;
    EXPECT_EQ(runProgramAndWait(tool, {tool, "scan", image, "--list"}, &error, &errorOutput), 0)
        << error << errorOutput;
    EXPECT_NE(runProgramAndWait(tool, {tool, "scan", folder + "\\none.img", "--list"}, &error,
                                &errorOutput),
              0);
    EXPECT_NE(errorOutput.find("none.img"), std::string::npos) << errorOutput;
    EXPECT_EQ(runProgramAndWait(programFolder() + "\\absent.exe", {"absent"}, &error), -1);
    EXPECT_NE(error.find("cannot start"), std::string::npos);
}

TEST(Win32AccessTest, RefusedDisksAskForAnElevatedPromptAndFaultsComeFromTheEnvironment) {
    const std::string disk = accessHint(EACCES, true, false, {}, "\\\\.\\PhysicalDrive1");
    EXPECT_NE(disk.find("Run as administrator"), std::string::npos) << disk;
    EXPECT_EQ(disk.find("polkit"), std::string::npos);
    const std::string elevated = accessHint(EACCES, true, true, {}, "\\\\.\\PhysicalDrive1");
    EXPECT_NE(elevated.find("even to an administrator"), std::string::npos) << elevated;
    EXPECT_NE(accessHint(ENOENT, true, false, {}, "\\\\.\\E:").find("not attached"),
              std::string::npos);
    EXPECT_EQ(accessHintFor(EACCES, "\\\\.\\E:").find("file"), std::string::npos);
    // "FIRST-LAST" in sectors, inclusive; a single sector; junk is left out.
    _putenv_s("KESTRUM_READ_FAULTS", "8-9,100,x,20-10");
    const FaultRanges ranges = readFaultsFor("C:\\any.img");
    _putenv_s("KESTRUM_READ_FAULTS", "");
    EXPECT_EQ(ranges, (FaultRanges{{8 * 512, 10 * 512}, {100 * 512, 101 * 512}}));
    EXPECT_TRUE(readFaultsFor("C:\\any.img").empty());
}

TEST(Win32ProgramTest, QuotesBackslashesAndBlanksSurviveTheCommandLine) {
    // The tool names the source it could not find: the name comes back exactly as
    // given, through the quoting of CreateProcess and the splitting of the C runtime.
    const std::string tool = programFolder() + "\\kestrum-recover.exe";
    for (const std::string name : {std::string("C:\\no such\\card \"one\".img"),
                                   std::string("C:\\trailing\\"), std::string("a\\\\\"b")}) {
        std::string error, errorOutput;
        EXPECT_EQ(runProgramAndWait(tool, {tool, "scan", name, "--list"}, &error, &errorOutput), 1)
            << error;
        EXPECT_NE(errorOutput.find("The source " + name + " does not exist"), std::string::npos)
            << name << " -> " << errorOutput;
    }
}

TEST(Win32OutputTest, LockedLogFilesTakeTurnsAndStayReadable) {
    TempDir dir;
    const std::string path = dir.path() + "\\Activity Log.txt";
    auto first = OutputFile::openLocked(path);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->append("one\r\n", 5));
    std::atomic<bool> second{false};
    std::thread waiter([&] {
        auto next = OutputFile::openLocked(path);
        second = next != nullptr;
        if (next) next->append("two\r\n", 5);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(second.load()) << "the second writer did not wait for the first";
    EXPECT_EQ(slurp(path), "one\r\n");  // readers are not shut out meanwhile
    ASSERT_TRUE(first->close());
    waiter.join();
    EXPECT_TRUE(second.load());
    EXPECT_EQ(slurp(path), "one\r\ntwo\r\n");
}

TEST(Win32ThreadTest, WorkerSlotStartsAndDrainsRepeatedly) {
    // Atomic waits and latches hang under some thread libraries: many short
    // workers in a row end and are seen to end every time.
    WorkerSlot slot;
    int ran = 0;
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(slot.start([&] { ++ran; }));
        slot.waitUntilIdle();
        EXPECT_FALSE(slot.running());
    }
    EXPECT_EQ(ran, 300);
}

}  // namespace
}  // namespace kestrum::platform
