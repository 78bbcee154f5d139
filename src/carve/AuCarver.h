// Sun/NeXT audio files (".snd").
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& auCarver();

}  // namespace kestrum::carve
