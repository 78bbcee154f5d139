// The texts that go into the activity log, shared by the desktop pages and the
// command-line tool so both write the same blocks.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "app/Log.h"

namespace kestrum {

// "%H:%M - %A, %B %d, %Y" in local time.
std::string headingTime(std::time_t t);
// "Starting Time : %I:%M %p" in local time; empty when the time cannot be formatted.
std::string startingTimeText(std::time_t t);
// "Elapsed Time : %d Hrs %d Mins" from one hour on, else "Elapsed Time : %d Mins
// %d Secs". Every hour is shown, also beyond a day.
std::string elapsedText(int64_t seconds);
// "%I64d / %I64d" as the pages show a position and its end.
std::string sectorProgressText(uint64_t position, uint64_t end);
// Whole percent of the way from start to end; 0 for an empty range.
int progressPercent(uint64_t position, uint64_t start, uint64_t end);

// The four lines of the start-of-run heading.
std::vector<std::string> startOfRunLines(const std::string& windowTitle,
                                         const std::string& versionText, std::time_t now);

enum class WorkMode { MediaRecovery, DiskImaging };

// The source choice: parentText is the tree's parent label ("Select Disk"), which
// the block turns into "Selected Disk"; infoLines are the information list's lines.
std::vector<std::string> sourceBlock(WorkMode mode, const std::string& parentText,
                                     const std::string& itemText,
                                     const std::vector<std::string>& infoLines,
                                     const std::string& startText, const std::string& endText);

// The type choice: the heading, then "All Extensions" or one type name per line.
std::vector<std::string> typeSelectionBlock(bool allSelected,
                                            const std::vector<std::string>& typeNames);

// The end-of-scan summary.
std::vector<std::string> scanReport(uint64_t position, uint64_t end, size_t filesFound,
                                    std::time_t started, std::time_t ended, bool aborted);

// Appends each line as its own entry.
void appendLines(LogKind kind, const std::vector<std::string>& lines);

}  // namespace kestrum
