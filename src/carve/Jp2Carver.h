// JPEG 2000 (JP2 boxes or a bare codestream) recognised by its signature and measured by boxes and
// tile-parts.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& jp2Carver();

}  // namespace kestrum::carve
