// JPEG recognised by its marker segments and measured to its real end of image,
// with the further pictures of a multi-picture file, a motion photo's video and trailing
// metadata blocks.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& jpegCarver();

}  // namespace kestrum::carve
