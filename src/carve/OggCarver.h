// Ogg files (Vorbis, Opus, Theora and other codecs in Ogg pages).
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& oggCarver();

}  // namespace kestrum::carve
