// RIFF files: WAVE audio (RF64 too), AVI video (DivX/XviD-coded AVIs apart), MIDI in RIFF.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& riffCarver();

}  // namespace kestrum::carve
