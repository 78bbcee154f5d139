// The thorough detector. It looks at the loop's batch in place; a walk that
// reaches beyond the batch reads through a small cache of the source.
#include "scan/ThoroughDetector.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "carve/Join.h"
#include "carve/JpegCarver.h"
#include "carve/SizeCeiling.h"
#include "carve/SourceReader.h"
#include "disk/SectorView.h"
#include "scan/ScanLoop.h"

namespace kestrum {
namespace {

using namespace carve;

// A break that files measured after the first interrupting one may still bridge:
// how many such files are tried, and how far the next may start after the last.
constexpr int kMaxJoinTries = 4;
constexpr uint64_t kMaxJoinGapSectors = 128;  // a 64 KiB cluster
constexpr int kMaxPorousStretches = 4;
// A failed search costs up to a second (its decode budget): a broken file gets a
// few, whatever follows it.
constexpr int kMaxJoinCalls = 3;
// Joins may decode as many bytes as the scan has read, plus a start of 256 MiB:
// at worst they about double the scan's time, however many pictures are broken
// (a failed search may decode up to 64 MiB).
constexpr uint64_t kJoinDecodeStart = 256ull << 20;
constexpr uint64_t kMinProofBytes = 16;

enum class Joinable { kNo, kJpeg, kMp4 };

Joinable joinable(std::string_view type) {
    if (type == "JPEG") return Joinable::kJpeg;
    for (std::string_view t : {"MP4", "MOV", "M4V", "3GP", "3G2"})
        if (type == t) return Joinable::kMp4;
    return Joinable::kNo;
}

class ThoroughDetector final : public ScanDetector {
public:
    ThoroughDetector(const ScanJob& job, FoundFileListing& listing,
                     std::span<const CarverEntry> table)
        : job_(job), listing_(listing), table_(table), cache_(job.source, job.rangeEnd) {
        // A walk goes as far as the built-in ceiling of the family's most generous
        // type, so the scan always goes on after a file's real end; a ceiling the
        // user set cuts only what is listed.
        for (const CarverEntry& c : table_) {
            uint64_t limit = 0;
            for (std::string_view t : c.types) limit = std::max(limit, sizeCeiling(t, nullptr));
            familyLimits_.push_back(limit != 0 ? limit : sizeCeiling("", nullptr));
        }
        // Most sectors hold no header at all: their first byte alone rules out all
        // but a few families, so only those are asked, still in table order.
        for (size_t i = 0; i < table_.size(); ++i) {
            const std::string_view first = table_[i].firstBytes;
            if (first.empty())
                for (auto& families : byFirstByte_) families.push_back(i);
            for (const char b : first) {
                auto& families = byFirstByte_[static_cast<uint8_t>(b)];
                if (families.empty() || families.back() != i) families.push_back(i);
            }
        }
    }

    ScanBatch firstBatch() override {
        // The caller restored the files found before the resume point.
        batchStart_ = job_.rangeStart;
        if (job_.resume)
            batchStart_ = job_.resume->finished ? job_.rangeEnd : job_.resume->resumeSector;
        next_ = batchStart_;
        return {batchStart_, kBatchSectors, 0};
    }
    std::optional<ScanBatch> look(const SectorView& batch, uint64_t from) override;
    // A file that reaches past this batch is not read again.
    ScanBatch nextBatch() const override {
        return {std::max(batchStart_ + batchSize_, next_), kBatchSectors, 0};
    }
    ScanCheckpoint resumePoint() const override;
    // At a stop the loop has recorded the resume point before this: a resumed run
    // finds the held file again from its header.
    void finish() override {
        if (held_) release();
        if (pending_) settle(std::nullopt);
    }

private:
    stExtInfo* record(std::string_view type) {
        for (stExtInfo& r : job_.types)
            if (type == r.extName) return &r;
        return nullptr;
    }
    // Looks for a file starting at sector T, whose bytes stand at `sector`; the
    // sector after the file (or after T) is where the scan goes on.
    uint64_t tryAt(uint64_t T, const uint8_t* sector);
    // Lists a file, or holds it back while a broken file before it waits for its
    // continuation (the list stays in sector order, and a resume finds both again).
    void list(stExtInfo& r, uint64_t T, uint64_t length, bool partial, std::string_view type = {});
    // Hands a file of length bytes at T (joined: its second piece) to the listing.
    void emit(stExtInfo& r, uint64_t T, uint64_t length, bool partial, const Joined* join);
    // Whether a picture measured whole at T may hold another's piece: a broken
    // picture waits for its continuation, or what follows it is data that starts
    // no file (the rest of a picture written interleaved with it). Decoding every
    // picture would cost several times the scan.
    bool doubtful(uint64_t T, uint64_t length);
    // A file measured at T..end (porous: it broke off or failed its decode;
    // picture: a JPEG): the pending broken file's interrupter, after or inside
    // which its continuation is looked for.
    void measured(uint64_t T, uint64_t end, bool porous, bool picture);
    // Lists the pending file, joined or partial, then the files held back after it.
    void settle(const std::optional<Joined>& join);
    // Lists the held file as measured, or, when a whole file was found at sector
    // `cut` inside its unchecked payload, only what comes before that sector.
    void release(std::optional<uint64_t> cut = std::nullopt);

    const ScanJob& job_;
    FoundFileListing& listing_;
    std::span<const CarverEntry> table_;
    std::vector<uint64_t> familyLimits_;
    std::array<std::vector<size_t>, 256> byFirstByte_;
    SectorCache cache_;
    uint64_t batchStart_ = 0;
    uint64_t batchSize_ = 0;
    uint64_t next_ = 0;  // where the next file may start
    bool walkCut_ = false;
    uint64_t cutAt_ = 0;  // the file whose walk a stop request cut

    // A file whose payload could not be checked is held while the scan looks
    // through that payload: a file found there ends it early (a camera sample
    // whose image data was dropped names bytes that belong to other files).
    struct Held {
        stExtInfo* record = nullptr;  // null: a type not chosen, never listed
        uint64_t start = 0;
        uint64_t length = 0;
        bool partial = false;
        uint64_t endSector = 0;           // after the file
        uint64_t scanEnd = 0;             // after the unchecked payload
        bool openEnded = false;           // ends after its last sector of data
        uint64_t lastData = 0;            // the last sector seen holding a nonzero byte
        std::vector<uint64_t> ownStarts;  // the file's own content, by its index
        std::string_view type = {};
    };
    std::optional<Held> held_;

    // A broken JPEG or movie waiting for the file(s) that interrupt it to be
    // measured, so its second piece can be looked for after them.
    struct Pending {
        stExtInfo* record = nullptr;
        Joinable kind = Joinable::kNo;
        uint64_t start = 0;
        uint64_t length = 0;    // the valid prefix
        uint64_t breakEnd = 0;  // the sector after that prefix
        uint64_t hint = 0;      // where the first interrupting file starts
        uint64_t resume = 0;    // after the last one measured
        int tries = 0;
        int calls = 0;  // searches made, at most kMaxJoinCalls
    };
    struct Listing {
        stExtInfo* record;
        uint64_t start, length;
        bool partial;
        std::string_view type;
    };
    std::optional<Pending> pending_;
    uint64_t joinDecoded_ = 0;       // bytes the scan's joins have decoded
    std::vector<Listing> deferred_;  // bounded: files inside one join window
    // The sector the scan may pass before the pending file is given up.
    uint64_t pendingDeadline() const {
        return pending_->hint == 0 ? pending_->breakEnd : pending_->resume + kMaxJoinGapSectors;
    }
};

// The held or cut file's header, else the next batch. Batch edges do not change
// what this scan finds, so the batch simply starts there.
ScanCheckpoint ThoroughDetector::resumePoint() const {
    ScanCheckpoint point;
    if (walkCut_ || held_ || pending_)
        point.resumeSector =
            std::min({walkCut_ ? cutAt_ : UINT64_MAX, held_ ? held_->start : UINT64_MAX,
                      pending_ ? pending_->start : UINT64_MAX});
    else
        point.resumeSector = std::max(batchStart_ + batchSize_, next_);
    point.batchStart = point.resumeSector;
    point.batchSize = std::min<uint64_t>(
        kBatchSectors, job_.rangeEnd - std::min(point.resumeSector, job_.rangeEnd));
    return point;
}

void ThoroughDetector::release(std::optional<uint64_t> cut) {
    const Held h = *held_;
    held_.reset();
    if (h.record == nullptr) return;
    uint64_t length = h.length;
    bool partial = h.partial;
    if (cut) {
        length = std::min(length, (*cut - h.start) * kSectorBytes);
        partial = true;
    }
    if (h.openEnded) length = std::min(length, (h.lastData + 1 - h.start) * kSectorBytes);
    list(*h.record, h.start, length, partial, h.type);
}

bool allZero(const uint8_t* sector) {
    static const std::array<uint8_t, kSectorBytes> kZero{};
    return std::memcmp(sector, kZero.data(), kSectorBytes) == 0;
}

uint64_t ThoroughDetector::tryAt(uint64_t T, const uint8_t* sector) {
    for (const size_t i : byFirstByte_[sector[0]]) {
        const CarverEntry& c = table_[i];
        if (!c.quick(sector)) continue;
        SourceReader reader(cache_, T, familyLimits_[i], &job_.stopRequested);
        const std::optional<Carved> found = c.carve(reader);
        // A walk cut short by a stop request measured nothing true; the batch ends
        // here, before anything inside that file could be listed.
        if (reader.cut()) {
            walkCut_ = true;
            cutAt_ = T;
            return T + 1;
        }
        if (!found || found->length == 0) continue;
        // Never beyond what the reader could give, whatever a walk claims.
        uint64_t length = std::min(found->length, reader.limit());
        bool partial = found->partial || length < found->length;
        // Two pictures written interleaved make B1 + A2 a structurally whole JPEG:
        // only a clean decode makes it whole. The decoder notices wrong data some
        // way after it starts, so its sectors stay unchecked below.
        uint64_t listed = length;
        bool broken = false;
        if (!partial && c.carve == jpegCarver().carve && doubtful(T, length)) {
            SourceReader whole(cache_, T, length, &job_.stopRequested);
            const JpegDecode d = decodeJpeg(whole);
            if (whole.cut()) {
                walkCut_ = true;
                cutAt_ = T;
                return T + 1;
            }
            if (d.supported && !d.clean) {
                broken = partial = true;
                listed = std::clamp<uint64_t>(d.troubleAt, std::min(found->checkedLength, length),
                                              length);
                if (listed == 0) listed = length;
            }
        }
        if (held_) {
            // Inside unchecked payload only a whole file is proof of newer bytes; one
            // ending where the held file ends is that file's own tail (a frame chain).
            const bool tail =
                T * kSectorBytes + length == held_->start * kSectorBytes + held_->length;
            const bool own = std::binary_search(held_->ownStarts.begin(), held_->ownStarts.end(),
                                                (T - held_->start) * kSectorBytes);
            // A file checked no further than its signature proves nothing either.
            const bool bare = found->checkedLength != 0 && found->checkedLength < kMinProofBytes;
            if (partial || tail || own || bare) continue;
            release(T);
        }
        const uint64_t next = T + (length + kSectorBytes - 1) / kSectorBytes;
        // A picture that breaks off or fails its decode may hold, after its first
        // sector, the continuation of the one it interrupts (A1 B1 A2 B2).
        const bool porous = broken || (partial && c.carve == jpegCarver().carve);
        stExtInfo* r = record(found->type);
        const uint64_t ceiling = r ? sizeCeiling(found->type, r) : UINT64_MAX;
        if (length > ceiling) {
            length = ceiling;
            partial = true;
        }
        const uint64_t checked = found->checkedLength;
        if (checked != 0 && checked < length) {
            const uint64_t payloadEnd =
                found->uncheckedEnd != 0 ? std::min(found->uncheckedEnd, length) : length;
            const uint64_t from = T + (checked + kSectorBytes - 1) / kSectorBytes;
            held_ = Held{r,
                         T,
                         std::min(length, listed),
                         partial || found->openEnded,
                         next,
                         T + (payloadEnd + kSectorBytes - 1) / kSectorBytes,
                         found->openEnded,
                         from - 1,
                         found->ownStarts,
                         found->type};
            // Measured once held: a continuation joined inside it ends it there.
            measured(T, next, porous, c.carve == jpegCarver().carve);
            return walkCut_ ? T + 1 : from;
        }
        measured(T, next, porous, c.carve == jpegCarver().carve);
        if (walkCut_) return T + 1;
        if (r) list(*r, T, std::min(length, listed), partial, found->type);
        // No file inside a file: whatever the walk measured is passed over, also
        // the part beyond a ceiling and files of types not chosen.
        return next;
    }
    return T + 1;
}

bool ThoroughDetector::doubtful(uint64_t T, uint64_t length) {
    if (pending_) return true;
    const uint64_t after = T + (length + kSectorBytes - 1) / kSectorBytes;
    if (after >= job_.rangeEnd) return false;
    std::array<uint8_t, kSectorBytes> sector;
    SourceReader next(cache_, after, kSectorBytes, &job_.stopRequested);
    // Refused for a stop request: the decode is refused too, and the walk is cut.
    if (!next.readExact(0, sector.data(), sector.size())) return next.cut();
    if (allZero(sector.data())) return false;
    for (const size_t i : byFirstByte_[sector[0]])
        if (table_[i].quick(sector.data())) return false;
    return true;
}

void ThoroughDetector::list(stExtInfo& r, uint64_t T, uint64_t length, bool partial,
                            std::string_view type) {
    if (pending_) {
        deferred_.push_back({&r, T, length, partial, type});
        return;
    }
    const Joinable kind = joinable(type);
    if (partial && kind != Joinable::kNo && length >= 2 * kSectorBytes) {
        pending_ = Pending{&r, kind, T, length, T + (length + kSectorBytes - 1) / kSectorBytes};
        return;
    }
    emit(r, T, length, partial, nullptr);
}

void ThoroughDetector::measured(uint64_t T, uint64_t end, bool porous, bool picture) {
    if (!pending_ || T <= pending_->start) return;
    Pending& p = *pending_;
    // Only a file where the broken one breaks off interrupts it, and only a run of
    // files one after another delays its continuation.
    if (T > pendingDeadline()) {
        settle(std::nullopt);
        return;
    }
    if (p.hint == 0) p.hint = T;
    // A file that fails its decode or breaks off may hold the continuation after
    // its first sector, and so may a picture that decodes (two of the same size
    // and tables written interleaved): searched after the file first, then from
    // its first sector a stretch at a time, as a join's decodes are bounded (a
    // broken file: inside first, then after).
    p.resume = porous ? T + 1 : end;
    std::vector<uint64_t> resumes;
    if (!porous) resumes.push_back(end);
    if (porous || picture)
        for (int k = 0; k < kMaxPorousStretches && T + 1 + k * kMaxJoinDecodes < end; ++k)
            resumes.push_back(T + 1 + k * uint64_t{kMaxJoinDecodes});
    if (porous) resumes.push_back(end);
    SourceReader medium(cache_, 0, cache_.endSector() * kSectorBytes, &job_.stopRequested);
    std::optional<Joined> join;
    for (size_t i = 0; i < resumes.size() && !join && !medium.cut() && p.calls < kMaxJoinCalls;
         ++i, ++p.calls) {
        const uint64_t read = (T - job_.rangeStart) * kSectorBytes;
        const JoinRequest q{
            p.start, p.length, resumes[i], p.hint, {}, &joinDecoded_, kJoinDecodeStart + read};
        if (p.kind == Joinable::kJpeg) {
            join = joinJpeg(medium, q);
        } else {
            const Mp4Join m = checkMp4Join(medium, q);
            if (m.kind == Mp4Join::Kind::kJoined) join = m.join;
        }
    }
    if (medium.cut()) {  // measured nothing true: a resumed run tries again
        walkCut_ = true;
        cutAt_ = T;
        return;
    }
    if (join || ++p.tries >= kMaxJoinTries || p.calls >= kMaxJoinCalls ||
        p.resume - p.hint >= kJoinWindowSectors)
        settle(join);
}

void ThoroughDetector::settle(const std::optional<Joined>& join) {
    const Pending p = *pending_;
    pending_.reset();
    if (join)
        emit(*p.record, p.start, join->length, false, &*join);
    else
        emit(*p.record, p.start, p.length, true, nullptr);
    for (const Listing& l : deferred_) emit(*l.record, l.start, l.length, l.partial, nullptr);
    deferred_.clear();
    // A second piece inside a held file's unchecked bytes is newer than that file:
    // it ends the held one, and interrupts it, like any file found there.
    if (!join || !held_ || join->joinSector <= held_->start || join->joinSector >= held_->scanEnd)
        return;
    const uint64_t c = join->joinSector;
    release(c);
    measured(c, c + (join->length - join->firstPieceBytes + kSectorBytes - 1) / kSectorBytes, false,
             false);
}

void ThoroughDetector::emit(stExtInfo& r, uint64_t T, uint64_t length, bool partial,
                            const Joined* join) {
    FileInfo f;
    f.startSector = T;
    f.sectorCount = static_cast<uint32_t>(
        std::min<uint64_t>((length + kSectorBytes - 1) / kSectorBytes, UINT32_MAX));
    f.byteLength = std::min<uint64_t>(length, uint64_t{f.sectorCount} * kSectorBytes);
    f.partial = partial;
    if (join) {
        f.joinSector = join->joinSector;
        f.firstPieceBytes = join->firstPieceBytes;
    }
    listing_.list(r, f);
}

std::optional<ScanBatch> ThoroughDetector::look(const SectorView& batch, uint64_t from) {
    batchStart_ = batch.firstSector();
    batchSize_ = batch.size() / kSectorBytes;
    cache_.setBatch(batch.data(), batchStart_, batchSize_);
    const uint64_t rangeEnd = job_.rangeEnd;
    for (uint64_t j = from; j < batchSize_; ++j) {
        const uint64_t T = batchStart_ + j;
        if (pending_ && T > pendingDeadline()) settle(std::nullopt);
        if (T < next_) continue;
        const uint8_t* sector = batch.data() + j * kSectorBytes;
        if (held_ && T >= held_->scanEnd) {
            // Past the payload: the checked rest of the file is not looked into.
            const uint64_t end = held_->endSector;
            release();
            if (T < end) {
                next_ = end;
                continue;
            }
        }
        const bool data = held_ && held_->openEnded && !allZero(sector);
        next_ = tryAt(T, sector);
        // Counted after the look: a sector where a newer file starts is not the
        // held file's data.
        if (data && held_ && held_->openEnded && held_->start < T) held_->lastData = T;
        if (walkCut_) break;
        listing_.reached(std::min(next_, rangeEnd) - 1);
    }
    return std::nullopt;
}

}  // namespace

int runThoroughScan(const ScanJob& job, std::span<const CarverEntry> table) {
    FoundFileListing listing(job, true);
    ThoroughDetector detector(job, listing, table);
    return runScan(job, detector);
}

}  // namespace kestrum
