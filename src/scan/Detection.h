// Whether a file of one of the selected types begins at a sector: the header
// signatures of the type list, tried in list order, the first match winning.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/SectorView.h"
#include "filetypes/TypeRecord.h"

namespace kestrum {

// sector starts at the sector to classify and runs on to the end of the sectors
// read with it, so a token may start near its end and finish in the next one.
// On a match: returns the record's position in types, copies its extName into
// typeName and its spanLimit into spanLimit. Otherwise -1, outputs untouched.
// A matching MKV header recaptures that record's end marker.
int32_t DetectFileType(TypeList& types, const SectorView& sector, char (&typeName)[6],
                       int32_t& spanLimit);

// The second test of the camera, WAV, OGG and AVI headers: the type's maker or
// form token starts somewhere in the sector's 512 positions.
bool CheckMakerToken(const stExtInfo& record, const SectorView& sector);

// Makes the last four bytes of the header sector that have the MKV marker's first
// and fourth bytes in place the new end marker; keeps the marker when none fit.
void CaptureMkvEndMarker(TypeList& types, size_t index, const SectorView& sector);

// DetectFileType with the same answers and side effects, for every sector of a
// scan: records whose signatures cannot match the sector's bytes at their
// offsets are passed over without a look. Built from the list's header
// signatures, which must not change while it is in use (end markers may).
class HeaderMatcher {
public:
    explicit HeaderMatcher(TypeList& types);
    int32_t detect(const SectorView& sector, char (&typeName)[6], int32_t& spanLimit);

private:
    struct OffsetTable {
        size_t offset;
        std::array<uint64_t, 256>
            candidates;  // bit i: record i has a signature with this byte here
    };
    TypeList& types_;
    bool walk_ = false;    // too many records for the bit masks: walk the list instead
    uint64_t always_ = 0;  // records with a signature the tables cannot screen
    std::vector<OffsetTable> tables_;
};

}  // namespace kestrum
