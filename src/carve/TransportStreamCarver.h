// MPEG transport streams: 188-byte packets, or 192-byte ones with a timecode (M2TS, AVCHD's MTS).
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& transportStreamCarver();

}  // namespace kestrum::carve
