#include "preview/PreviewCopy.h"

#include <algorithm>

#include "app/Session.h"
#include "disk/FileCopy.h"
#include "filetypes/Catalogue.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OutputFile.h"
#include "scan/ResultsPage.h"

namespace kestrum {

std::atomic<uint8_t> thumbnailBusy{0};

namespace {
constexpr const char* kPartSuffix = ".part";  // a thumbnail still being written
}  // namespace

WorkerSlot& previewThread() {
    static WorkerSlot slot;
    return slot;
}

WorkerSlot& listFillThread() {
    static WorkerSlot slot;
    return slot;
}

std::string tempPreviewPath(const std::string& extName) {
    const std::string folder = platform::privateTempFolder();
    if (folder.empty()) return {};  // never a shared folder, never the root
    return platform::joinPath(folder, "Tavtemp." + extName);
}

int copyFoundFile(const FileInfo& record, const std::string& path, bool* createFailed) {
    if (createFailed) *createFailed = false;
    // Replaces what is there (also a read-only leftover or a planted link), so the
    // copy never lands anywhere but here.
    const auto out =
        platform::OutputFile::create(path, nullptr, platform::OutputFile::Leftover::Refuse, 0600);
    if (!out) {
        if (createFailed) *createFailed = true;
        return 0;
    }
    const bool written =
        copyFileBytes(record, openSessionSource(), [&](const void* data, size_t bytes) {
            return out->writeAll(data, bytes);
        }).written;
    int result = written ? 1 : 0;
    if (!out->close()) result = 0;
    return result;
}

int ExtractThumbnail(FileInfo record) {
    ResultsPage* page = session().resultsPage.load();
    uint8_t expected = 0;
    if (!thumbnailBusy.compare_exchange_strong(expected, 1)) return 0;
    const std::string path = tempPreviewPath(record.extName);
    if (path.empty()) {
        thumbnailBusy.store(0);
        return 0;
    }
    // Written under another name and renamed into place: the page, which may be
    // reading the previous thumbnail, only ever opens a whole picture.
    const std::string part = path + kPartSuffix;
    bool createFailed = false;
    int result = copyFoundFile(record, part, &createFailed);
    if (!createFailed && !platform::renameEntry(part, path)) {
        platform::removeEntry(part);
        createFailed = true;
    }
    if (!createFailed && page != nullptr) {
        page->tempPathBuffer.store(path);
        page->previewReady.store(1);
    }
    thumbnailBusy.store(0);
    return createFailed ? 0 : result;
}

void RemoveTempPreviews() {
    for (const CatalogueRow& row : offeredRows(true)) {
        if (row.shown == Shown::No) continue;
        const std::string path = tempPreviewPath(std::string(row.type));
        if (path.empty()) return;
        platform::removeEntry(path);
        platform::removeEntry(path + kPartSuffix);
    }
}

}  // namespace kestrum
