// JPEG XL pictures: the bare codestream, or the box container around it.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& jxlCarver();

}  // namespace kestrum::carve
