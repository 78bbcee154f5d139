// PNG recognised by its checksummed header chunk and measured by its chunks to the end chunk.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& pngCarver();

}  // namespace kestrum::carve
