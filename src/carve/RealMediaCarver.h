// Recognises RealMedia files (RM) and measures them by their chunks and the
// packets of their data chunk.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& realMediaCarver();

}  // namespace kestrum::carve
