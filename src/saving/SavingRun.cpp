#include "saving/SavingRun.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OutputFile.h"
#include "saving/DestinationCheck.h"
#include "saving/TextFormat.h"

namespace kestrum {

std::atomic<uint8_t> saveStopRequested{0};
std::atomic<uint8_t> recoveryLogStarted{0};

WorkerSlot& saveThread() {
    static WorkerSlot slot;
    return slot;
}

namespace {

constexpr uint32_t kCopySectors = 8;

int64_t now() {
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

void startRecoveryLog() {
    uint8_t expected = 0;
    if (!recoveryLogStarted.compare_exchange_strong(expected, 1)) return;
    appendLines(LogKind::Recovery,
                startOfRunLines(session().windowTitle.load(), session().versionText.load(),
                                std::time(nullptr)));
}

std::string checkSavingDestination(const std::string& destinationPath) {
    if (!platform::directoryExists(destinationPath)) return "Select the valid path.";
    return destinationOnSourceMessage(destinationPath);
}

void SavingRun::prepare() {
    totalCount.store(0);
    savedCount.store(0);
    keptCount.store(0);
    failedCount.store(0);
    replaceAll.store(0);
    skipAll.store(0);
    aborted.store(0);
    saveStopRequested.store(0);
    firstError.store({});
    markedSaved_.store({});
    startTime.store(now());
    endTime.store(0);
    // Before the worker starts, so that a run that ends at once cannot put its
    // report above the header.
    startRecoveryLog();
}

bool SavingRun::start() {
    if (saveThread().running()) return false;
    prepare();
    working_.store(true);  // a Stop pressed before the thread runs still counts
    if (saveThread().start([this] { work(); })) return true;
    working_.store(false);
    return false;
}

void SavingRun::work() {
    working_.store(true);
    const std::vector<FileInfo> files = session().foundFiles.snapshot();
    int32_t ticked = 0;
    for (const FileInfo& f : files)
        if (f.checked != 0) ++ticked;
    totalCount.store(ticked);

    for (const FileInfo& f : files) {
        if (f.checked != 0) {
            currentFileName.store(f.fileName);
            currentFolderName.store(f.extName);
            const int result = copyFoundFile(f);
            if (result == 1) {
                savedCount.fetch_add(1);
                if (f.partial || isJoined(f))
                    markedSaved_.with([&](auto& lines) {
                        lines.push_back(f.fileName +
                                        std::string(f.partial ? " (partial)" : " (joined)"));
                    });
            } else if (result == kKept) {
                keptCount.fetch_add(1);
            } else
                failedCount.fetch_add(1);
        }
        // A Stop question shown while this file ended is answered before we look.
        pauseGate.pass();
        if (saveStopRequested.load() != 0) {
            aborted.store(1);
            break;
        }
    }
    endTime.store(now());
    for (const std::string& line : reportLines()) appendLog(LogKind::Recovery, line);
    working_.store(false);
}

std::string SavingRun::folderPathFor(const FileInfo& record) const {
    return platform::joinPath(destinationPath, record.extName);
}

std::string SavingRun::filePathFor(const FileInfo& record) const {
    return platform::joinPath(folderPathFor(record), record.fileName);
}

void SavingRun::noteError(const std::string& text) {
    firstError.with([&](std::string& e) {
        if (e.empty()) e = text;
    });
}

int SavingRun::copyFoundFile(const FileInfo& record) {
    const std::string folder = folderPathFor(record);
    if (!platform::directoryExists(folder)) platform::createDirectory(folder);
    const std::string path = filePathFor(record);

    if (platform::entryExists(path)) {
        if (replaceAll.load() == 0) {
            if (skipAll.load() != 0) return kKept;
            switch (prompter().askReplace(record.fileName)) {
                case ReplaceAnswer::Yes:
                    break;
                case ReplaceAnswer::YesToAll:
                    replaceAll.store(1);
                    skipAll.store(0);
                    break;
                case ReplaceAnswer::NoToAll:
                    skipAll.store(1);
                    replaceAll.store(0);
                    return kKept;
                default:  // No, or the prompt closed another way
                    return kKept;
            }
        }
    }

    int error = 0;
    // Whatever is there was agreed to be replaced; a link is removed, not written through.
    const auto out =
        platform::OutputFile::create(path, &error, platform::OutputFile::Leftover::Truncate);
    if (!out) {
        noteError(textf("Could not create %s: %s", path.c_str(), std::strerror(error)));
        return 0;
    }
    const std::string device = session().selectedDevicePath();
    unsigned char buffer[kCopySectors * kSectorSize];
    int result = 1;
    // Each piece of the file in turn (two for a joined file); an exact length
    // ends a piece inside its last sector.
    const FileExtents extents = fileExtents(record);
    for (int p = 0; p < extents.count && result == 1; ++p) {
        const FileExtent& piece = extents.piece[p];
        uint64_t left = piece.bytes;
        const uint64_t end = piece.startSector + (left + kSectorSize - 1) / kSectorSize;
        for (uint64_t s = piece.startSector; s < end && left > 0; s += kCopySectors) {
            if (s != record.startSector) pauseGate.pass();
            const uint32_t n =
                static_cast<uint32_t>(end - s < kCopySectors ? end - s : kCopySectors);
            readSectors(s, n, buffer, device);
            const size_t bytes =
                static_cast<size_t>(std::min<uint64_t>(left, size_t{n} * kSectorSize));
            left -= bytes;
            if (!out->writeAll(buffer, bytes, &error)) {
                result = 0;
                break;
            }
        }
    }
    if (int closeError = 0; !out->close(&closeError) && result == 1) {
        error = closeError;
        result = 0;
    }
    if (result == 0) noteError(textf("Could not write %s: %s", path.c_str(), std::strerror(error)));
    return result;
}

bool SavingRun::stop(const std::function<bool()>& confirm) {
    if (!working()) return false;
    pauseGate.pause();
    const bool yes = confirm();
    if (yes) saveStopRequested.store(1);
    pauseGate.resume();
    return yes;
}

int SavingRun::progressPercent() const {
    const int64_t total = totalCount.load();
    const int64_t saved = savedCount.load() + keptCount.load();
    if (total == 0 || saved == 0) return 0;
    return static_cast<int>(saved * 100 / total);
}

std::string SavingRun::countText() const {
    return textf("%d / %d", savedCount.load(), totalCount.load());
}

SavingOutcome SavingRun::outcome() const {
    // With nothing ticked a Stop aborted nothing: the user is asked to tick files.
    if (totalCount.load() == 0) return SavingOutcome::NothingSelected;
    if (aborted.load() != 0) return SavingOutcome::Aborted;
    if (failedCount.load() != 0) return SavingOutcome::CompletedWithErrors;
    if (savedCount.load() == 0 && keptCount.load() != 0) return SavingOutcome::NothingWritten;
    return SavingOutcome::Succeeded;
}

std::string SavingRun::finalMessage() const {
    const int32_t failed = failedCount.load();
    const int32_t kept = keptCount.load();
    const std::string notSaved = textf("%d file(s) could not be saved.", failed);
    switch (outcome()) {
        case SavingOutcome::NothingSelected:
            return "Please select the file for saving.";
        case SavingOutcome::Aborted:
            return failed == 0 ? "File Saving Aborted." : "File Saving Aborted. " + notSaved;
        case SavingOutcome::CompletedWithErrors:
            return "File Saving Completed with Errors. " + notSaved;
        case SavingOutcome::NothingWritten:
            return textf("No file was saved: the %d file(s) already there were kept.", kept);
        case SavingOutcome::Succeeded:
            break;
    }
    if (kept != 0)
        return textf(
            "File Saved Successfully. %d file(s) saved, %d file(s) already there were "
            "kept.",
            savedCount.load(), kept);
    return "File Saved Successfully.";
}

std::vector<std::string> SavingRun::reportLines() const {
    std::vector<std::string> lines{
        "\r\nSaving Report :\r\n --------------",
        "Saving Path : " + destinationPath,
        "Files Recover :" + countText(),
        startingTimeText(static_cast<std::time_t>(startTime.load())),
        elapsedText(endTime.load() - startTime.load()),
    };
    for (const std::string& line : markedSaved_.load()) lines.push_back(line);
    const int32_t failed = failedCount.load();
    if (const int32_t kept = keptCount.load(); kept != 0)
        lines.push_back(textf("Files Kept (already there) : %d", kept));
    if (failed != 0) lines.push_back(textf("Files Not Saved : %d", failed));
    if (aborted.load() != 0)
        lines.push_back("File Saving Aborted\r\n");
    else if (failed != 0)
        lines.push_back("File Saving Completed with Errors\r\n");
    else if (outcome() == SavingOutcome::NothingWritten)
        lines.push_back("No File Saved\r\n");
    else
        lines.push_back("File Saved Successfully\r\n");
    return lines;
}

}  // namespace kestrum
