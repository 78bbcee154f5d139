// MXF (professional cameras and broadcast): KLV packets behind a header partition pack.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& mxfCarver();

}  // namespace kestrum::carve
