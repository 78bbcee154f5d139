// GIF recognised by its screen descriptor and first block, measured through its blocks to the
// trailer.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& gifCarver();

}  // namespace kestrum::carve
