// Recognises raw DV streams (DV) and measures them in whole frames.
#pragma once

#include "carve/Carver.h"

namespace kestrum::carve {

const CarverEntry& dvCarver();

}  // namespace kestrum::carve
