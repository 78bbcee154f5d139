// For formats whose end no structure marks (a bare JPEG XL codestream, AMR's
// frame run): whether another family's file starts at a sector inside what the
// walk would otherwise take, so the walk can stop before it and hide nothing.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

// True when a family other than `self` recognises a file starting at offset `at`
// of r (a sector start relative to the walk's first byte).
bool otherFileStartsAt(ByteReader& r, uint64_t at, const CarverEntry& self);

}  // namespace kestrum::carve
