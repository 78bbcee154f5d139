#include "saving/SavingRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/FileCopy.h"
#include "disk/SectorReader.h"
#include "disk/SizeText.h"
#include "imaging/ImagingRun.h"
#include "platform/Files.h"
#include "platform/FolderHandle.h"
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

uint64_t roomNeeded(const std::string& destinationPath) {
    const uint64_t block = platform::blockSizeOf(destinationPath);
    uint64_t total = 0;
    session().foundFiles.forEach([&](FileInfo& f) {
        if (f.checked == 0) return;
        // A file of its name and size is there from an earlier run: it is kept or
        // replaced in place, and takes no more room.
        const std::string path =
            platform::joinPath(platform::joinPath(destinationPath, f.extName), f.fileName);
        if (platform::regularFileSize(path) == fileBytes(f)) return;
        total += (fileBytes(f) + block - 1) / block * block;
    });
    return total;
}

std::string keptBothName(const std::string& fileName, int copy) {
    const size_t dot = fileName.rfind('.');
    const size_t cut = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    return fileName.substr(0, cut) + " (" + std::to_string(copy) + ")" + fileName.substr(cut);
}

std::string checkSavingDestination(const std::string& destinationPath) {
    if (!platform::directoryExists(destinationPath)) return "Select the valid path.";
    if (std::string refusal = destinationOnSourceMessage(destinationPath); !refusal.empty())
        return refusal;
    int error = 0;
    const auto folder = platform::FolderHandle::open(destinationPath, &error);
    if (folder) error = folder->writeProblem();
    if (error != 0)
        return textf("Files cannot be saved in %s: %s. Please choose another folder.",
                     destinationPath.c_str(), std::strerror(error));
    const uint64_t needed = roomNeeded(destinationPath);
    const uint64_t free = platform::freeBytesOf(destinationPath).value_or(0);
    if (needed > 0 && !freeSpaceSuffices(free, needed))
        return textf(
            "Insufficient free space on destination: the files to save need %s, %s is free "
            "(%s missing). Please free space or change destination path.",
            sizeText(needed).c_str(), sizeText(free).c_str(),
            sizeText(needed - std::min(free, needed)).c_str());
    return {};
}

void SavingRun::prepare() {
    totalCount.store(0);
    savedCount.store(0);
    keptCount.store(0);
    failedCount.store(0);
    replaceAll.store(0);
    skipAll.store(0);
    keepBothAll.store(0);
    aborted.store(0);
    saveStopRequested.store(0);
    firstError.store({});
    zeroedSectors.store(0);
    bytesCopied.store(0);
    unreadableMark_ = unreadableMark();
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
                        lines.push_back(savedName_ +
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

std::optional<SavingRun::Placement> SavingRun::existingFileChoice(const std::string& fileName) {
    if (replaceAll.load() != 0) return Placement::Replace;
    if (keepBothAll.load() != 0) return Placement::KeepBoth;
    if (skipAll.load() != 0) return std::nullopt;
    switch (prompter().askReplace(fileName)) {
        case ReplaceAnswer::Yes:
            return Placement::Replace;
        case ReplaceAnswer::YesToAll:
            replaceAll.store(1);
            return Placement::Replace;
        case ReplaceAnswer::KeepBoth:
            return Placement::KeepBoth;
        case ReplaceAnswer::KeepBothToAll:
            keepBothAll.store(1);
            return Placement::KeepBoth;
        case ReplaceAnswer::NoToAll:
            skipAll.store(1);
            return std::nullopt;
        default:  // No, or the prompt closed another way
            return std::nullopt;
    }
}

int SavingRun::placeFinished(const platform::FolderHandle& folder, const std::string& part,
                             const std::string& name, Placement placement,
                             const std::string& path) {
    int error = 0;
    // Whatever is there was agreed to be replaced; a link is replaced, not written through.
    savedName_ = name;
    if (placement == Placement::Replace && folder.rename(part, name, true, &error)) return 1;
    // A file of the name was there, or came meanwhile: the newcomer takes the first
    // free name unless that very file is there already (the same card saved again).
    for (int copy = 1; placement != Placement::Replace && copy < 10000; ++copy) {
        const std::string candidate = copy == 1 ? name : keptBothName(name, copy);
        if (folder.rename(part, candidate, false, &error)) {
            savedName_ = candidate;
            return 1;
        }
        if (error != EEXIST) break;
        if (folder.sameContents(part, candidate)) {
            folder.remove(part);
            return kKept;
        }
    }
    folder.remove(part);
    noteError(textf("Could not write %s: %s", path.c_str(), std::strerror(error)));
    return 0;
}

int SavingRun::copyFoundFile(const FileInfo& record) {
    const std::string path = filePathFor(record);
    int error = 0;
    // The type folder is opened without following a link: a link planted there
    // would send the file elsewhere, onto the source disk for one.
    std::unique_ptr<platform::FolderHandle> folder;
    if (const auto top = platform::FolderHandle::open(destinationPath, &error))
        folder = top->subfolder(record.extName, &error);
    if (!folder) {
        noteError(textf("Could not create %s: %s", path.c_str(), std::strerror(error)));
        return 0;
    }
    const std::string name = record.fileName;
    Placement placement = Placement::New;
    if (folder->has(name)) {
        const auto choice = existingFileChoice(name);
        if (!choice) return kKept;
        placement = *choice;
    }

    // Half a file never carries the name: it is written under a hidden one first.
    const std::string part = "." + name + ".part";
    const auto out = folder->create(part, &error);
    if (!out) {
        noteError(textf("Could not create %s: %s", path.c_str(), std::strerror(error)));
        return 0;
    }
    const FileCopyOutcome copied = copyFileBytes(
        record, openSessionSource(),
        [&](const void* data, size_t bytes) {
            if (!out->writeAll(data, bytes, &error)) return false;
            bytesCopied.fetch_add(bytes, std::memory_order_relaxed);
            return true;
        },
        [&] { pauseGate.pass(); });
    zeroedSectors.fetch_add(copied.zeroedSectors);
    int result = copied.written ? 1 : 0;
    if (int closeError = 0; !out->close(&closeError) && result == 1) {
        error = closeError;
        result = 0;
    }
    if (result == 0) {
        folder->remove(part);
        noteError(textf("Could not write %s: %s", path.c_str(), std::strerror(error)));
        return 0;
    }
    return placeFinished(*folder, part, name, placement, path);
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
    // Zeros in a saved file are no success: the user is told how many sectors.
    if (const uint64_t zeroed = zeroedSectors.load(); zeroed != 0)
        return zeroedSectorsText("File Saving Completed", zeroed, "the saved files");
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
    if (const std::string runs = unreadableRunsText(unreadableRunsSince(unreadableMark_));
        !runs.empty())
        lines.push_back(textf("Unreadable Sectors (zeros) : %llu (%s)",
                              static_cast<unsigned long long>(zeroedSectors.load()), runs.c_str()));
    if (aborted.load() != 0)
        lines.push_back("File Saving Aborted\r\n");
    else if (failed != 0)
        lines.push_back("File Saving Completed with Errors\r\n");
    else if (outcome() == SavingOutcome::NothingWritten)
        lines.push_back("No File Saved\r\n");
    else if (zeroedSectors.load() != 0)
        lines.push_back("File Saving Completed with Unreadable Sectors\r\n");
    else
        lines.push_back("File Saved Successfully\r\n");
    return lines;
}

}  // namespace kestrum
