// Recognises Matroska and WebM files (MKV) and measures them by their Segment
// element, walking its children where the size is unknown or untrusted.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& matroskaCarver();

}  // namespace kestrum::carve
