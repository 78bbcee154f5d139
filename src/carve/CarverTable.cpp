// The thorough scan's families in the order they are tried on a sector: the
// families with the most specific quick tests first, so a weaker test that
// also passes (a TIFF byte-order mark, an MPEG frame sync) is asked last.
#include "carve/Carver.h"

#include <array>

#include "carve/BmpCarver.h"
#include "carve/GifCarver.h"
#include "carve/Jp2Carver.h"
#include "carve/JpegCarver.h"
#include "carve/PngCarver.h"
#include "carve/PsdCarver.h"
#include "carve/PspCarver.h"

namespace kestrum::carve {

std::span<const CarverEntry> carvers() {
    static const std::array kTable{
        pngCarver(), pspCarver(), psdCarver(), jp2Carver(), gifCarver(), jpegCarver(),
        bmpCarver(),  // "BM" and a header size: the weakest picture test
    };
    return kTable;
}

}  // namespace kestrum::carve
