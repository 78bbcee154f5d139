// Carving of TIFF files and the camera raws built on TIFF directories (CR2, NEF,
// DNG, ORF, RW2, PEF, ...): measured as the furthest byte any directory names.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& tiffCarver();

}  // namespace kestrum::carve
