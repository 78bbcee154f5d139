// Carving of Minolta MRW files, measured from their header blocks and the raw
// image's dimensions and storage.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& mrwCarver();

}  // namespace kestrum::carve
