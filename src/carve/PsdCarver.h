// Photoshop PSD/PSB recognised by its header and measured through its sections to the end of the
// image data.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& psdCarver();

}  // namespace kestrum::carve
