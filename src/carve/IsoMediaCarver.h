// Recognises ISO base media and QuickTime files (MP4, MOV, M4V, 3G2) and measures
// them by walking their top-level boxes.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& isoMediaCarver();

}  // namespace kestrum::carve
