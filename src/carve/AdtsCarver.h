// AAC audio as ADTS frames (what phones and streams write without a container).
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& adtsCarver();

}  // namespace kestrum::carve
