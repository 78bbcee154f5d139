// Activity-log texts: times, elapsed forms, progress, and the blocks.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "TestSupport.h"
#include "app/Reports.h"

using namespace kestrum;

TEST(ReportsTest, ElapsedTextShowsEveryHour) {
    EXPECT_EQ(elapsedText(125), "Elapsed Time : 2 Mins 5 Secs");
    EXPECT_EQ(elapsedText(0), "Elapsed Time : 0 Mins 0 Secs");
    EXPECT_EQ(elapsedText(3599), "Elapsed Time : 59 Mins 59 Secs");
    EXPECT_EQ(elapsedText(3900), "Elapsed Time : 1 Hrs 5 Mins");
    EXPECT_EQ(elapsedText(86400), "Elapsed Time : 24 Hrs 0 Mins");
    EXPECT_EQ(elapsedText(-5), "Elapsed Time : 0 Mins 0 Secs");  // clock set back
    // A run of a day or more keeps its whole days as hours.
    EXPECT_EQ(elapsedText(25 * 3600), "Elapsed Time : 25 Hrs 0 Mins");
    EXPECT_EQ(elapsedText(49 * 3600 + 61), "Elapsed Time : 49 Hrs 1 Mins");
}

TEST(ReportsTest, ProgressIsMeasuredFromTheRangeStart) {
    EXPECT_EQ(progressPercent(1500, 1000, 2000), 50);
    EXPECT_EQ(progressPercent(1000, 1000, 2000), 0);
    EXPECT_EQ(progressPercent(2000, 1000, 2000), 100);
    EXPECT_EQ(progressPercent(5, 10, 10), 0);
    EXPECT_EQ(progressPercent(UINT64_MAX - 1, 0, UINT64_MAX), 99);
    EXPECT_EQ(sectorProgressText(5000000000ULL, 6000000000ULL), "5000000000 / 6000000000");
}

TEST(ReportsTest, TimesUseTheirFormats) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::time_t t = 1765110660;  // 2025-12-07 12:31:00 UTC, a Sunday
    EXPECT_EQ(headingTime(t), "12:31 - Sunday, December 07, 2025");
    EXPECT_EQ(startingTimeText(t), "Starting Time : 12:31 PM");
    const auto lines = startOfRunLines("Kestrum for Digital Media", "Version 1.0", t);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "-----------------------Start--------------------------");
    EXPECT_EQ(lines[3], "12:31 - Sunday, December 07, 2025");
}

TEST(ReportsTest, TimesReadTheSameUnderAGermanLocale) {
    // A German locale built for the test: no day or month names of its own, and
    // no empty AM/PM, may reach the logs.
    test::TempDir locales;
    if (std::system(
            ("localedef -i de_DE -f UTF-8 '" + locales.file("de_DE.UTF-8") + "' >/dev/null 2>&1")
                .c_str()) != 0)
        GTEST_SKIP() << "localedef could not build de_DE.UTF-8";
    ::setenv("LOCPATH", locales.path().c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::time_t t = 1765110660;
    char own[64];
    std::strftime(own, sizeof own, "%A %p", std::gmtime(&t));
    EXPECT_EQ(std::string(own), "Sonntag ");  // the locale is really in force
    EXPECT_EQ(headingTime(t), "12:31 - Sunday, December 07, 2025");
    EXPECT_EQ(startingTimeText(t), "Starting Time : 12:31 PM");
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
}

TEST(ReportsTest, SourceTypeAndScanBlocks) {
    const auto source =
        sourceBlock(WorkMode::MediaRecovery, "Select Image", "/img/Image0.img",
                    {"Physical Disk Number : 2", "Model   : /img/Image0.img"}, "0", "2048");
    const std::vector<std::string> expected{"\r\n",
                                            "MEDIA RECOVERY",
                                            "------\r\n",
                                            "Selected Image Information :\r\n/img/Image0.img",
                                            "Physical Disk Number : 2\r\nModel   : /img/Image0.img",
                                            "Starting Range : 0",
                                            "Ending Range : 2048"};
    EXPECT_EQ(source, expected);
    EXPECT_EQ(sourceBlock(WorkMode::DiskImaging, "Select Disk", "Disk1", {}, "0", "8")[1],
              "DISK IMAGING");

    EXPECT_EQ(
        typeSelectionBlock(true, {"CR2"}),
        (std::vector<std::string>{"\r\nSelected Extensions Information : ", "All Extensions"}));
    EXPECT_EQ(typeSelectionBlock(false, {"CR2", "JPEG"}),
              (std::vector<std::string>{"\r\nSelected Extensions Information : ", "CR2", "JPEG"}));

    const auto report = scanReport(2048, 2048, 7, 1000, 1125, false);
    ASSERT_EQ(report.size(), 7u);
    EXPECT_EQ(report[0], "\r\nAnalysing Files Information :");
    EXPECT_EQ(report[1], "Current Sector : 2048 / 2048");
    EXPECT_EQ(report[2], "Files Found : 7");
    EXPECT_EQ(report[4], "Elapsed Time : 2 Mins 5 Secs");
    EXPECT_EQ(report[5], "Analysing Completed");
    EXPECT_EQ(scanReport(1, 2, 0, 0, 0, true)[5], "Analysing Aborted");
}
