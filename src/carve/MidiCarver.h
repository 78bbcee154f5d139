// Standard MIDI files.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& midiCarver();

}  // namespace kestrum::carve
