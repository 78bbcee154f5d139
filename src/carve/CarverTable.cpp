// The thorough scan's families in the order they are tried on a sector: the
// families with the most specific quick tests first, so a weaker test that
// also passes (a TIFF byte-order mark, an MPEG frame sync) is asked last.
#include "carve/Carver.h"

#include <array>

#include "carve/CiffCarver.h"
#include "carve/MrwCarver.h"
#include "carve/RafCarver.h"
#include "carve/TiffCarver.h"
#include "carve/X3fCarver.h"

namespace kestrum::carve {

std::span<const CarverEntry> carvers() {
    static const std::array kTable{
        ciffCarver(),
        rafCarver(),
        mrwCarver(),
        x3fCarver(),
        // Weak quick tests last.
        tiffCarver(),
    };
    return kTable;
}

}  // namespace kestrum::carve
