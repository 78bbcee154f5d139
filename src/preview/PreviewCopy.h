// Copies a found file's sectors to a temporary file so it can be shown or played:
// the row preview, the scan-time thumbnail, and the clean-up of those files.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/WorkerSlot.h"
#include "scan/FileInfo.h"

namespace kestrum {

// The running preview worker (one at a time) and the results-list filler.
WorkerSlot& previewThread();
WorkerSlot& listFillThread();
// Set while a scan-time thumbnail is being copied.
extern std::atomic<uint8_t> thumbnailBusy;

// "Tavtemp." + type in the private temporary folder; empty when no private folder
// can be made (a preview is then refused).
std::string tempPreviewPath(const std::string& extName);

// Copies the record's sectors to path, 8 sectors at a time: exactly its byte
// length when it has one, else sectorCount x 512 bytes. A leftover file of that name is removed
// first and the new one is created without following links. 1 when every chunk was written in full,
// 0 when the file could not be created or a write fell short (createFailed tells which).
int copyFoundFile(const FileInfo& record, const std::string& path, bool* createFailed = nullptr);

// The scan-time thumbnail: copies the record to its temporary file and raises the
// results page's previewReady. The copy is written beside that file and renamed
// into place, so the page never reads a part of it. Returns 0 at once while
// another copy runs.
int ExtractThumbnail(FileInfo record);

// Deletes the temporary preview file of every previewable type.
void RemoveTempPreviews();

}  // namespace kestrum
