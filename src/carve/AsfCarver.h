// ASF files (Windows Media): audio-only ones are WMA, the others ASF.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& asfCarver();

}  // namespace kestrum::carve
