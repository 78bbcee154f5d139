// Carving of Canon CRW files (CIFF heaps), measured to the end of the root heap
// and of the edit-settings trailer some programs append.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& ciffCarver();

}  // namespace kestrum::carve
