// BMP recognised by its file and DIB headers and measured by its size field, checked against the
// pixel array.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& bmpCarver();

}  // namespace kestrum::carve
