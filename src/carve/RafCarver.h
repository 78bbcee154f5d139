// Carving of Fujifilm RAF files, measured by the offsets and lengths of their
// header's directory.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& rafCarver();

}  // namespace kestrum::carve
