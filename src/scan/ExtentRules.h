// Where a file that starts at a detected header ends: the general rule (a size
// field in the header, or the first sector holding an end marker) and the
// marker-run rule of PSP and MP3, which follows the marker ahead on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/SectorSource.h"
#include "disk/SectorView.h"
#include "filetypes/TypeRecord.h"

namespace kestrum {

// Results of both rules.
inline constexpr int32_t kFileEnds = 0;    // sectorCount and foundCount are set
inline constexpr int32_t kNoEndHere = -1;  // ask again with the next sector
inline constexpr int32_t kRejected = -2;   // not a file: scan on after its header

// True for the types whose extent FollowMarkerRun decides ("PSP", "MP3").
bool followsMarkerRun(const char* extName);

// Asked once per sector from the header on. sector runs on to the end of the
// sectors read with it: a marker may start near its end and finish in the next
// one, but never beyond. On kFileEnds the record's foundCount has grown by one
// and foundCount holds the new value.
int32_t FindFileEnd(TypeList& types, size_t index, const SectorView& sector, uint64_t fileStart,
                    uint64_t current, uint32_t& sectorCount, int32_t& foundCount);

// The first sector of view in which FindFileEnd's marker branch would find an end
// marker, or the sector just past the view when none would. One search over the
// rest of a batch answers for all its sectors, so the scan need not search every
// sector of an open file again. For a record whose end is not decided by markers
// anywhere in a sector (a size field, a marker at a fixed offset) it answers the
// view's first sector: ask FindFileEnd itself.
uint64_t nextMarkerSector(const stExtInfo& record, const SectorView& view);

// Asked on the header sector; reads on from the source until 350 sectors in a row
// held no marker. The file runs to the last sector that held one, plus 10
// sectors. Always kFileEnds.
int32_t FollowMarkerRun(TypeList& types, size_t index, const SectorView& sector, uint64_t fileStart,
                        uint64_t current, uint32_t& sectorCount, int32_t& foundCount,
                        SectorSource& source);

}  // namespace kestrum
