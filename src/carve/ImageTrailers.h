// Metadata trailers that picture tools append after a file's own end: AFCP and
// Photo Mechanic's IPTC trailer. Each is recognised by its closing mark.
#pragma once

#include <cstdint>

#include "carve/ByteReader.h"

namespace kestrum::carve {

// The end of the trailers that follow one another from `at` on; `at` itself
// when none does.
uint64_t trailersEnd(ByteReader& r, uint64_t at);

}  // namespace kestrum::carve
