// Paint Shop Pro images recognised by their header and measured by their blocks.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& pspCarver();

}  // namespace kestrum::carve
