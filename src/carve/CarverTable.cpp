// The thorough scan's families in the order they are tried on a sector: the
// families with the most specific quick tests first, so a weaker test that
// also passes (a TIFF byte-order mark, an MPEG frame sync) is asked last.
#include "carve/Carver.h"

#include <array>

#include "carve/AdtsCarver.h"
#include "carve/AiffCarver.h"
#include "carve/AmrCarver.h"
#include "carve/AsfCarver.h"
#include "carve/AuCarver.h"
#include "carve/BmpCarver.h"
#include "carve/CiffCarver.h"
#include "carve/DvCarver.h"
#include "carve/FlacCarver.h"
#include "carve/GifCarver.h"
#include "carve/IsoMediaCarver.h"
#include "carve/Jp2Carver.h"
#include "carve/JpegCarver.h"
#include "carve/JxlCarver.h"
#include "carve/MatroskaCarver.h"
#include "carve/MidiCarver.h"
#include "carve/Mp3Carver.h"
#include "carve/MpegCarver.h"
#include "carve/MrwCarver.h"
#include "carve/MxfCarver.h"
#include "carve/OggCarver.h"
#include "carve/PngCarver.h"
#include "carve/PsdCarver.h"
#include "carve/PspCarver.h"
#include "carve/RafCarver.h"
#include "carve/RealMediaCarver.h"
#include "carve/RiffCarver.h"
#include "carve/TiffCarver.h"
#include "carve/TransportStreamCarver.h"
#include "carve/X3fCarver.h"

namespace kestrum::carve {

std::span<const CarverEntry> carvers() {
    static const std::array kTable{
        // Raw formats whose header alone is long and specific.
        ciffCarver(),
        rafCarver(),
        mrwCarver(),
        x3fCarver(),
        // Pictures.
        pngCarver(),
        pspCarver(),
        psdCarver(),
        jp2Carver(),
        gifCarver(),
        jpegCarver(),
        jxlCarver(),
        // Containers of audio and video.
        isoMediaCarver(),
        matroskaCarver(),
        realMediaCarver(),
        dvCarver(),
        riffCarver(),
        asfCarver(),
        aiffCarver(),
        oggCarver(),
        midiCarver(),
        auCarver(),
        flacCarver(),
        amrCarver(),
        mxfCarver(),
        // Weak quick tests last: a byte-order mark, "BM", sync bytes, start codes,
        // frame sync.
        tiffCarver(),
        bmpCarver(),
        transportStreamCarver(),
        mpegCarver(),
        adtsCarver(),
        mp3Carver(),
    };
    return kTable;
}

}  // namespace kestrum::carve
