// Found files over unreadable sectors of a rescue map: the results page marks
// them after a scan of an image folder that holds the map, with the image's
// first source sector taken from the map.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/Log.h"
#include "app/Session.h"
#include "imaging/RescueMap.h"
#include "platform/DurableReplace.h"
#include "scan/DamageMark.h"

using namespace kestrum;

namespace {

FileInfo file(const char* name, uint64_t start, uint32_t count) {
    FileInfo f;
    std::snprintf(f.fileName, sizeof f.fileName, "%s", name);
    std::snprintf(f.extName, sizeof f.extName, "JPEG");
    f.startSector = start;
    f.sectorCount = count;
    return f;
}

TEST(DamageMark, FilesOverUnreadableSectorsOfTheMapBesideTheImage) {
    test::ScopedRegistry registry;
    test::TempDir dir, logs;
    ASSERT_TRUE(writeInstallRegistry(dir.path(), logs.path()));
    Session& s = session();
    s.chooseSource(SourceSpec::imageFolder(dir.path(), false));
    s.foundFiles.clear();
    // The image starts at source sector 100; source sector 150 is bad and 160 untried.
    RescueMap map(400 * 512);
    map.mark(100 * 512, 200 * 512, '+');
    map.mark(150 * 512, 512, '-');
    map.mark(160 * 512, 512, '?');
    map.imageOrigin = "source sector 100 is image byte 0, one file";
    ASSERT_TRUE(platform::replaceDurably(dir.file("image0.MAP"), map.format("t", 0, 0)));

    for (const FileInfo& f :
         {file("File1.JPEG", 0, 50), file("File2.JPEG", 40, 11), file("File3.JPEG", 51, 9),
          file("File4.JPEG", 60, 1), file("File5.JPEG", 61, 100)})
        s.foundFiles.append(f);
    EXPECT_EQ(markDamagedBesideSessionImage(), 2u);
    std::string flags;
    for (const FileInfo& f : s.foundFiles.snapshot()) flags += f.damaged ? 'D' : '.';
    EXPECT_EQ(flags, ".D.D.");
    const auto log = test::readFile(logs.file("Activity Log.txt"));
    EXPECT_NE(std::string(log.begin(), log.end()).find("Damaged : File4.JPEG (sectors 60 to 61)"),
              std::string::npos);

    // A source that is not an image folder, or a folder without a map, marks nothing.
    s.source.store(SourceSpec{});
    EXPECT_EQ(markDamagedBesideSessionImage(), 0u);
    s.chooseSource(SourceSpec::imageFolder(logs.path(), false));
    EXPECT_EQ(markDamagedBesideSessionImage(), 0u);
    s.source.store(SourceSpec{});
    s.foundFiles.clear();
}

}  // namespace
