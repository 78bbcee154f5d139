// The results page's texts: sizes in KB, MB and GB of 1024, and type labels.
#include <gtest/gtest.h>

#include "scan/ResultsText.h"

namespace kestrum {
namespace {

TEST(ResultsText, SizesChangeUnitAtOneMebibyteAndOneGibibyte) {
    EXPECT_EQ(fileSizeText(0), "0.00 KB");
    EXPECT_EQ(fileSizeText(10), "5.00 KB");
    EXPECT_EQ(fileSizeText(7), "3.50 KB");
    EXPECT_EQ(fileSizeText(2047), "1023.50 KB");  // 1,048,064 bytes: still KB
    EXPECT_EQ(fileSizeText(2048), "1.00 MB");     // 1,048,576 bytes
    EXPECT_EQ(fileSizeText(4000), "1.95 MB");
    EXPECT_EQ(fileSizeText(2097151), "1024.00 MB");  // one sector short of a GiB
    EXPECT_EQ(fileSizeText(2097152), "1.00 GB");
    // 64-bit arithmetic: 0xFFFFFFFF sectors are just under 2 TiB.
    EXPECT_EQ(fileSizeText(0xFFFFFFFFu), "2048.00 GB");
}

TEST(ResultsText, AnExactLengthIsShownAsItIsAndAPartialFileSaysSo) {
    FileInfo f;
    f.sectorCount = 3;
    EXPECT_EQ(fileSizeText(f), "1.50 KB");  // classic: whole sectors
    f.byteLength = 1300;
    EXPECT_EQ(fileSizeText(f), "1.27 KB");
    f.partial = true;
    EXPECT_EQ(fileSizeText(f), "1.27 KB (partial)");
    f.partial = false;
    f.joinSector = 40;
    f.firstPieceBytes = 1024;
    EXPECT_EQ(fileSizeText(f), "1.27 KB (joined)");
}

TEST(ResultsText, TypeLabelsAndWhichTypeTheyName) {
    EXPECT_EQ(typeNodeLabel("JPEG", 12), "JPEG (12)");
    EXPECT_EQ(typeNodeLabel("MP3", 1), "MP3 (1)");
    EXPECT_TRUE(labelNamesType("JPEG (12)", "JPEG"));
    EXPECT_TRUE(labelNamesType("JPEG", "JPEG"));
    EXPECT_FALSE(labelNamesType("JPEG (12)", "JP2"));
    EXPECT_FALSE(labelNamesType("MPEG (1)", "MP3"));
    EXPECT_FALSE(labelNamesType("MP4 (1)", "MP3"));
    EXPECT_FALSE(labelNamesType("AU", "AUX"));  // shorter label
    EXPECT_FALSE(labelNamesType("AU (1)", ""));
}

}  // namespace
}  // namespace kestrum
