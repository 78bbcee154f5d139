// A scan recorded as it goes, so that a long scan cut short (Ctrl-C, a kill, a
// power cut) continues where it was and ends with the same found-file list as an
// uninterrupted one. The record is replaced atomically at batch ends.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/Guarded.h"
#include "filetypes/TypeRecord.h"
#include "scan/FileInfo.h"
#include "scan/FoundFileList.h"
#include "scan/ScanDriver.h"

namespace kestrum {

// What a recorded scan must be continued with: the same source, range, types
// (with their maximum sizes) and detection mode.
struct ScanIdentity {
    std::string source;
    uint64_t sourceBytes = 0;
    uint64_t rangeStart = 0;
    uint64_t rangeEnd = 0;
    std::string types;  // "JPEG=2048000,PNG=2048000", from the selection
    std::string mode = "classic";
    // The disk the source is (serial, WWN, model, size or backing file); empty
    // for an image file, whose path and size say enough.
    std::string disk;
};

// The types part of an identity, from the selection the scan will use.
std::string typesText(const TypeList& types);

class ScanSession {
public:
    ScanSession(std::string path, ScanIdentity identity,
                std::chrono::milliseconds saveEvery = std::chrono::seconds(30));

    // Reads the record at the path, if there is one. False with the message to
    // show when it cannot be read or was made for another source or settings.
    bool open(std::string& error);
    bool resumed() const { return recorded_.has_value(); }
    bool finished() const { return recorded_ && recorded_->point.finished; }
    uint64_t resumeSector() const { return recorded_ ? recorded_->point.resumeSector : 0; }
    size_t recordedFiles() const { return recorded_ ? recorded_->files.size() : 0; }

    // Puts the recorded found files, found counts and end markers into the
    // scan's lists (which must hold the same selection, freshly built), and
    // returns the hooks that resume the scan and keep recording it.
    ScanHooks begin(TypeList& types, FoundFileList& found);

    // Why the last save failed, or empty.
    std::string saveError() const;

private:
    struct Record {
        ScanCheckpoint point;
        struct TypeState {
            int32_t foundCount = 0;
            int32_t endCount = 0;
            std::array<SigEntry, 5> ends{};
        };
        std::vector<TypeState> types;
        std::vector<FileInfo> files;
    };
    std::string format(const ScanCheckpoint& point, const TypeList& types,
                       const std::vector<FileInfo>& files) const;
    bool parse(const std::string& text, Record& record, std::string& error) const;

    std::string path_;
    ScanIdentity identity_;
    std::chrono::milliseconds saveEvery_;
    std::optional<Record> recorded_;
    std::chrono::steady_clock::time_point lastSave_{};
    Guarded<std::string> saveError_;
};

}  // namespace kestrum
