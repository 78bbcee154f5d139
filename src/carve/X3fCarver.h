// Carving of Sigma X3F files, measured to the section directory at their end.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& x3fCarver();

}  // namespace kestrum::carve
