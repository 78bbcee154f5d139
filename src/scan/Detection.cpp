// Header signature detection. It runs on every sector of a scan, so it neither
// allocates nor copies; the token and MKV searches run only after a header matched.
#include "scan/Detection.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "filetypes/Catalogue.h"

namespace kestrum {
namespace {

constexpr size_t kLastStart = kSectorBytes - 1;  // a pattern may start at 0 ... 511

int32_t entriesInUse(int32_t count) {
    return std::clamp<int32_t>(count, 0, 5);
}
size_t patternLength(const SigEntry& e) {
    return static_cast<size_t>(std::min(e.length, 28));
}

bool signatureMatches(const SigEntry& sig, const SectorView& sector) {
    if (sig.length < 0) return false;
    if (sig.offset == -1)
        return sector.find(sig.bytes.data(), patternLength(sig), kLastStart) != SectorView::npos;
    if (sig.offset < 0) return false;
    return sector.equalAt(static_cast<size_t>(sig.offset), sig.bytes.data(), patternLength(sig));
}

bool isMkv(const stExtInfo& r) {
    return std::strcmp(r.extName, "MKV") == 0;
}

// Signatures in order; a signature whose token test fails counts as not matching.
bool recordMatches(TypeList& types, size_t i, const SectorView& sector) {
    const stExtInfo& r = types[i];
    for (int32_t k = 0; k < entriesInUse(r.sigCount); ++k) {
        if (!signatureMatches(r.sigs[static_cast<size_t>(k)], sector)) continue;
        if (!makerTokenFor(r.extName).empty() && !CheckMakerToken(r, sector)) continue;
        if (isMkv(r)) CaptureMkvEndMarker(types, i, sector);
        return true;
    }
    return false;
}

int32_t reportMatch(const TypeList& types, size_t i, char (&typeName)[6], int32_t& spanLimit) {
    std::memcpy(typeName, types[i].extName, sizeof typeName);
    typeName[sizeof typeName - 1] = '\0';
    spanLimit = types[i].spanLimit;
    return static_cast<int32_t>(i);
}

}  // namespace

int32_t DetectFileType(TypeList& types, const SectorView& sector, char (&typeName)[6],
                       int32_t& spanLimit) {
    for (size_t i = 0; i < types.size(); ++i)
        if (recordMatches(types, i, sector)) return reportMatch(types, i, typeName, spanLimit);
    return -1;
}

bool CheckMakerToken(const stExtInfo& record, const SectorView& sector) {
    const std::string_view token = makerTokenFor(record.extName);
    if (token.empty()) return false;
    return sector.find(reinterpret_cast<const uint8_t*>(token.data()), token.size(), kLastStart) !=
           SectorView::npos;
}

void CaptureMkvEndMarker(TypeList& types, size_t index, const SectorView& sector) {
    SigEntry& marker = types[index].ends[0];
    if (marker.offset != -1) return;
    const uint8_t first = marker.bytes[0];
    const uint8_t fourth = marker.bytes[3];
    for (size_t p = kSectorBytes - 4 + 1; p-- > 0;) {
        if (sector.byteAt(p) == first && sector.byteAt(p + 3) == fourth) {
            for (size_t b = 0; b < 4; ++b) marker.bytes[b] = sector.byteAt(p + b);
            return;
        }
    }
}

HeaderMatcher::HeaderMatcher(TypeList& types) : types_(types) {
    if (types.size() > 64) {
        walk_ = true;
        return;
    }
    for (size_t i = 0; i < types.size(); ++i) {
        const stExtInfo& r = types[i];
        for (int32_t k = 0; k < entriesInUse(r.sigCount); ++k) {
            const SigEntry& sig = r.sigs[static_cast<size_t>(k)];
            if (sig.length < 0 || (sig.offset < 0 && sig.offset != -1)) continue;  // never matches
            if (sig.length == 0 || sig.offset == -1) {
                always_ |= uint64_t{1} << i;
                continue;
            }
            const size_t offset = static_cast<size_t>(sig.offset);
            auto table = std::find_if(tables_.begin(), tables_.end(),
                                      [&](const OffsetTable& t) { return t.offset == offset; });
            if (table == tables_.end()) table = tables_.insert(tables_.end(), {offset, {}});
            table->candidates[sig.bytes[0]] |= uint64_t{1} << i;
        }
    }
}

int32_t HeaderMatcher::detect(const SectorView& sector, char (&typeName)[6], int32_t& spanLimit) {
    if (walk_) return DetectFileType(types_, sector, typeName, spanLimit);
    uint64_t candidates = always_;
    for (const OffsetTable& t : tables_) candidates |= t.candidates[sector.byteAt(t.offset)];
    // Ascending bit order is list order, so the first match is the list walk's.
    while (candidates != 0) {
        const size_t i = static_cast<size_t>(std::countr_zero(candidates));
        if (recordMatches(types_, i, sector)) return reportMatch(types_, i, typeName, spanLimit);
        candidates &= candidates - 1;
    }
    return -1;
}

}  // namespace kestrum
