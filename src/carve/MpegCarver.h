// Recognises MPEG-1/-2 program streams (MPEG, VOB) and MPEG video elementary
// streams (MPEG) and measures them by their packs, packets and start codes.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& mpegCarver();

}  // namespace kestrum::carve
