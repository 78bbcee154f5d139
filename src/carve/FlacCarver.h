// FLAC audio: metadata blocks, then frames checked by their header CRC-8 and sync.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& flacCarver();

}  // namespace kestrum::carve
