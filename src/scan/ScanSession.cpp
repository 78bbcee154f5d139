// The session record: a heading that names the scan, the point to go on from,
// the types' mutable state and the files found before that point.
#include "scan/ScanSession.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/DurableReplace.h"
#include "platform/Files.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

constexpr const char* kMagic = "kestrum scan session 1";

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
    out += textf("at %" PRIu64 " %" PRIu64 " %" PRIu64 " %d\n", p.resumeSector, p.batchStart,
                 p.batchSize, p.finished ? 1 : 0);
    for (const stExtInfo& r : types) {
        out += textf("type %d %d", foundCountOf(r), r.endCount);
        for (const SigEntry& e : r.ends)
            out += textf(" %d:%d:", e.offset, e.length) + hexOf(e.bytes);
        out += "\n";
    }
    for (const FileInfo& f : files)
        out += textf("file %s %" PRIu64 " %u %s\n", f.extName, f.startSector, f.sectorCount,
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
    if (!std::getline(in, line) || line != kMagic) return fail("is not a scan session record.");
    // The heading must name this very scan, line for line.
    const std::string expected = format({}, {}, {});
    std::istringstream want(expected);
    std::getline(want, line);
    for (int i = 0; i < 5; ++i) {
        std::string have, need;
        std::getline(in, have);
        std::getline(want, need);
        if (have != need)
            return fail("was made for another scan: it records \"" + have +
                        "\" where this one has \"" + need +
                        "\". Give the same source, range and types, or another session file.");
    }
    bool ended = false;
    while (std::getline(in, line)) {
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
            words >> ext >> f.startSector >> f.sectorCount >> name;
            if (ext.empty() || ext.size() >= sizeof f.extName || name.size() >= sizeof f.fileName)
                return fail("is damaged (file line).");
            std::snprintf(f.extName, sizeof f.extName, "%s", ext.c_str());
            std::snprintf(f.fileName, sizeof f.fileName, "%s", name.c_str());
            record.files.push_back(f);
        } else if (kind == "end") {
            ended = true;
        }
        if (!words && kind != "end") return fail("is damaged.");
    }
    // Written whole and renamed into place, a record without its end is not ours.
    if (!ended) return fail("is incomplete.");
    return true;
}

bool ScanSession::open(std::string& error) {
    recorded_.reset();
    if (!platform::entryExists(path_)) return true;
    std::string text;
    if (!platform::readWholeFile(path_, text)) {
        error = "The scan session " + path_ + " cannot be read: " + std::strerror(errno) + ".";
        return false;
    }
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
