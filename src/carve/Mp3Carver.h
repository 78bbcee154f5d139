// MPEG audio files: an optional ID3v2 tag, a chain of MPEG audio frames, and the
// tags that may follow them (Lyrics3, APEv2, ID3v1).
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& mp3Carver();

}  // namespace kestrum::carve
