// The session record: a heading that names the scan, the point to go on from,
// the types' mutable state and the files found before that point.
#include "scan/ScanSession.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/DurableReplace.h"
#include "platform/Files.h"
#include "platform/RecordFile.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

// Version 2 keeps every field of a found file and the disk; version 1 is still read.
constexpr const char* kMagic = "kestrum scan session 2";
constexpr const char* kMagicV1 = "kestrum scan session 1";
// Far beyond the record of any real scan; a larger file is not a record.
constexpr uint64_t kRecordBytesMost = 512ull << 20;

// A name a saved copy may take inside the folder it is saved to.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

bool selected(const std::string& types, const std::string& ext) {
    std::istringstream list(types);
    for (std::string item; std::getline(list, item, ',');)
        if (item.substr(0, item.find('=')) == ext) return true;
    return false;
}

std::string hexOf(const std::array<uint8_t, 28>& bytes) {
    std::string out;
    for (uint8_t b : bytes) out += textf("%02x", b);
    return out;
}

bool bytesOf(const std::string& hex, std::array<uint8_t, 28>& bytes) {
    if (hex.size() != 56) return false;
    for (size_t i = 0; i < 28; ++i) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + 2 * i, "%2x", &v) != 1) return false;
        bytes[i] = static_cast<uint8_t>(v);
    }
    return true;
}

}  // namespace

std::string typesText(const TypeList& types) {
    std::string out;
    for (const stExtInfo& r : types)
        out += (out.empty() ? "" : ",") + std::string(r.extName) + "=" +
               std::to_string(r.maxSizeBytes);
    return out;
}

ScanSession::ScanSession(std::string path, ScanIdentity identity,
                         std::chrono::milliseconds saveEvery)
    : path_(std::move(path)), identity_(std::move(identity)), saveEvery_(saveEvery) {}

std::string ScanSession::format(const ScanCheckpoint& p, const TypeList& types,
                                const std::vector<FileInfo>& files) const {
    std::string out = std::string(kMagic) + "\n";
    out += "source " + identity_.source + "\n";
    out += textf("bytes %" PRIu64 "\nrange %" PRIu64 " %" PRIu64 "\n", identity_.sourceBytes,
                 identity_.rangeStart, identity_.rangeEnd);
    out += "types " + identity_.types + "\nmode " + identity_.mode + "\n";
    out += "disk " + identity_.disk + "\n";
    out += textf("at %" PRIu64 " %" PRIu64 " %" PRIu64 " %d\n", p.resumeSector, p.batchStart,
                 p.batchSize, p.finished ? 1 : 0);
    for (const stExtInfo& r : types) {
        out += textf("type %d %d", foundCountOf(r), r.endCount);
        for (const SigEntry& e : r.ends)
            out += textf(" %d:%d:", e.offset, e.length) + hexOf(e.bytes);
        out += "\n";
    }
    for (const FileInfo& f : files)
        out += textf("file %s %" PRIu64 " %u %d %" PRIu64 " %d %d %" PRIu64 " %" PRIu64 " %s\n",
                     f.extName, f.startSector, f.sectorCount, f.checked, f.byteLength,
                     f.partial ? 1 : 0, f.damaged ? 1 : 0, f.joinSector, f.firstPieceBytes,
                     f.fileName);
    return out + "end\n";
}

bool ScanSession::parse(const std::string& text, Record& record, std::string& error) const {
    std::istringstream in(text);
    std::string line;
    auto fail = [&](const std::string& why) {
        error = "The scan session " + path_ + " " + why;
        return false;
    };
    if (!std::getline(in, line) || (line != kMagic && line != kMagicV1))
        return fail("is not a scan session record.");
    const bool v1 = line == kMagicV1;
    // The heading must name this very scan, line for line (a version 1 record
    // did not name the disk).
    const std::string expected = format({}, {}, {});
    std::istringstream want(expected);
    std::getline(want, line);
    for (int i = 0; i < (v1 ? 5 : 6); ++i) {
        std::string have, need;
        std::getline(in, have);
        std::getline(want, need);
        // A record of the same path without a known disk (an image file) fits.
        if (i == 5 && (have == "disk " || need == "disk ")) continue;
        if (have != need)
            return fail("was made for another scan: it records \"" + have +
                        "\" where this one has \"" + need +
                        "\". Give the same source, range and types, or another session file.");
    }
    bool ended = false;
    const uint64_t sourceSectors = identity_.sourceBytes / 512;
    int lineNo = v1 ? 6 : 7;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string where = " (line " + std::to_string(lineNo) + ")";
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "at") {
            int finished = 0;
            words >> record.point.resumeSector >> record.point.batchStart >>
                record.point.batchSize >> finished;
            record.point.finished = finished != 0;
        } else if (kind == "type") {
            Record::TypeState t;
            words >> t.foundCount >> t.endCount;
            for (SigEntry& e : t.ends) {
                std::string item;
                words >> item;
                char hex[64] = {};
                if (std::sscanf(item.c_str(), "%d:%d:%63s", &e.offset, &e.length, hex) != 3 ||
                    !bytesOf(hex, e.bytes))
                    return fail("is damaged (type line).");
            }
            record.types.push_back(t);
        } else if (kind == "file") {
            FileInfo f;
            std::string ext, name;
            words >> ext >> f.startSector >> f.sectorCount;
            if (!v1) {
                int partial = 0, damaged = 0;
                words >> f.checked >> f.byteLength >> partial >> damaged >> f.joinSector >>
                    f.firstPieceBytes;
                f.partial = partial != 0;
                f.damaged = damaged != 0;
            }
            words >> name;
            std::string more;
            if (!words || (words >> more) || ext.empty() || ext.size() >= sizeof f.extName ||
                name.size() >= sizeof f.fileName)
                return fail("is damaged" + where + ".");
            // Each file is saved under its name into its type's folder, from the
            // source's sectors: a record must not lead anywhere else.
            if (!selected(identity_.types, ext))
                return fail("names a type the scan did not look for (" + ext + ")" + where + ".");
            if (!plainName(name))
                return fail("names a file outside the save folder (" + name + ")" + where + ".");
            std::snprintf(f.extName, sizeof f.extName, "%s", ext.c_str());
            std::snprintf(f.fileName, sizeof f.fileName, "%s", name.c_str());
            const FileExtents extents = fileExtents(f);
            for (int i = 0; i < extents.count; ++i) {
                const FileExtent& e = extents.piece[i];
                if (f.sectorCount == 0 || e.startSector >= sourceSectors ||
                    (e.bytes + 511) / 512 > sourceSectors - e.startSector ||
                    (!isJoined(f) && f.sectorCount > sourceSectors - f.startSector))
                    return fail("places a file outside the source's sectors" + where + ".");
            }
            record.files.push_back(f);
        } else if (kind == "end") {
            ended = true;
        } else if (kind != "at" && kind != "type")
            return fail("is damaged" + where + ".");
        if (!words && kind != "end" && kind != "file") return fail("is damaged" + where + ".");
    }
    // Written whole and renamed into place, a record without its end is not ours.
    if (!ended) return fail("is incomplete.");
    return true;
}

bool ScanSession::open(std::string& error) {
    recorded_.reset();
    if (!platform::entryExists(path_)) return true;
    std::string text;
    if (platform::readRecordFile(path_, kRecordBytesMost, "The scan session " + path_, text,
                                 error) != platform::RecordRead::Read)
        return false;
    Record record;
    if (!parse(text, record, error)) return false;
    const uint64_t end = identity_.rangeEnd;
    const ScanCheckpoint& p = record.point;
    if (p.batchStart > p.resumeSector ||
        (!p.finished && p.resumeSector >= p.batchStart + p.batchSize) ||
        p.batchStart + p.batchSize > end || p.batchStart < identity_.rangeStart) {
        error = "The scan session " + path_ + " is damaged (its position lies outside the range).";
        return false;
    }
    recorded_ = std::move(record);
    return true;
}

ScanHooks ScanSession::begin(TypeList& types, FoundFileList& found) {
    ScanHooks hooks;
    if (recorded_ && recorded_->types.size() == types.size()) {
        for (size_t i = 0; i < types.size(); ++i) {
            setFoundCount(types[i], recorded_->types[i].foundCount);
            types[i].endCount = recorded_->types[i].endCount;
            types[i].ends = recorded_->types[i].ends;
        }
        for (const FileInfo& f : recorded_->files) found.append(f);
        hooks.resume = recorded_->point;
    }
    lastSave_ = std::chrono::steady_clock::now();
    hooks.checkpoint = [this, &types, &found](const ScanCheckpoint& point) {
        const auto now = std::chrono::steady_clock::now();
        if (!point.finished && !point.stopping && now - lastSave_ < saveEvery_) return;
        std::string error;
        if (!platform::replaceDurably(path_, format(point, types, found.snapshot()), &error))
            saveError_.store("Could not record the scan session " + error);
        lastSave_ = now;
    };
    return hooks;
}

std::string ScanSession::saveError() const {
    return saveError_.load();
}

}  // namespace kestrum
