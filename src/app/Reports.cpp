#include "app/Reports.h"

#include <cinttypes>
#include <cstdio>

#include "platform/LocalTime.h"

namespace kestrum {
namespace {

// Logs and reports read the same under every locale: English names, AM and PM.
std::string formatTime(const char* format, std::time_t t) {
    return platform::formatLocalTimeC(format, t);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
    return s;
}

}  // namespace

std::string headingTime(std::time_t t) {
    return formatTime("%H:%M - %A, %B %d, %Y", t);
}

std::string startingTimeText(std::time_t t) {
    const std::string time = formatTime("%I:%M %p", t);
    return time.empty() ? std::string() : "Starting Time : " + time;
}

std::string elapsedText(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = seconds / 60 - hours * 60;
    const int64_t secs = seconds - (seconds / 60) * 60;
    char text[96];
    if (hours >= 1)
        std::snprintf(text, sizeof text, "Elapsed Time : %" PRId64 " Hrs %" PRId64 " Mins", hours,
                      minutes);
    else
        std::snprintf(text, sizeof text, "Elapsed Time : %" PRId64 " Mins %" PRId64 " Secs",
                      minutes, secs);
    return text;
}

std::string sectorProgressText(uint64_t position, uint64_t end) {
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 " / %" PRIu64, position, end);
    return text;
}

int progressPercent(uint64_t position, uint64_t start, uint64_t end) {
    if (end <= start || position <= start) return 0;
    if (position >= end) return 100;
    // In long double: (position - start) * 100 could overflow 64 bits near the top.
    return static_cast<int>(static_cast<long double>(position - start) * 100 / (end - start));
}

std::vector<std::string> startOfRunLines(const std::string& windowTitle,
                                         const std::string& versionText, std::time_t now) {
    return {"-----------------------Start--------------------------", windowTitle, versionText,
            headingTime(now)};
}

std::vector<std::string> sourceBlock(WorkMode mode, const std::string& parentText,
                                     const std::string& itemText,
                                     const std::vector<std::string>& infoLines,
                                     const std::string& startText, const std::string& endText) {
    std::string joined;
    for (size_t i = 0; i < infoLines.size(); ++i) joined += (i ? "\r\n" : "") + infoLines[i];
    return {"\r\n",
            mode == WorkMode::MediaRecovery ? "MEDIA RECOVERY" : "DISK IMAGING",
            "------\r\n",
            replaceAll(parentText, "Select", "Selected") + " Information :\r\n" + itemText,
            joined,
            "Starting Range : " + startText,
            "Ending Range : " + endText};
}

std::vector<std::string> typeSelectionBlock(bool allSelected,
                                            const std::vector<std::string>& typeNames) {
    std::vector<std::string> lines{"\r\nSelected Extensions Information : "};
    if (allSelected)
        lines.push_back("All Extensions");
    else
        lines.insert(lines.end(), typeNames.begin(), typeNames.end());
    return lines;
}

std::vector<std::string> scanReport(uint64_t position, uint64_t end, size_t filesFound,
                                    std::time_t started, std::time_t ended, bool aborted) {
    return {"\r\nAnalysing Files Information :",
            "Current Sector : " + sectorProgressText(position, end),
            "Files Found : " + std::to_string(filesFound),
            startingTimeText(started),
            elapsedText(static_cast<int64_t>(ended - started)),
            aborted ? "Analysing Aborted" : "Analysing Completed",
            "\r\n"};
}

void appendLines(LogKind kind, const std::vector<std::string>& lines) {
    for (const auto& line : lines) appendLog(kind, line);
}

}  // namespace kestrum
