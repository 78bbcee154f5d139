// AIFF and AIFF-C audio files.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& aiffCarver();

}  // namespace kestrum::carve
