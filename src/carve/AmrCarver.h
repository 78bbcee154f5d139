// AMR and AMR-WB speech (voice recorders, old phones): the magic, then frames sized by mode.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& amrCarver();

}  // namespace kestrum::carve
