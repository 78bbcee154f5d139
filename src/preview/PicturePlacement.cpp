#include "preview/PicturePlacement.h"

#include <cstdint>

namespace kestrum {

PicturePlace placePicture(int W, int H, int w, int h) {
    // Each half is taken by itself: W/2 - w/2, not (W - w)/2.
    if (w < W && h < H) return {W / 2 - w / 2, H / 2 - h / 2, w, h};
    if (w <= 0 || h <= 0) return {};
    // Two pixels of margin all round, inside the frame.
    const int64_t roomW = W - 4 > 1 ? W - 4 : 1;
    const int64_t roomH = H - 4 > 1 ? H - 4 : 1;
    int64_t pw = roomW, ph = roomH;
    if (int64_t{w} * roomH > int64_t{h} * roomW)
        ph = (int64_t{h} * roomW + w / 2) / w;  // the width limits
    else
        pw = (int64_t{w} * roomH + h / 2) / h;
    if (pw < 1) pw = 1;
    if (ph < 1) ph = 1;
    const int iw = static_cast<int>(pw), ih = static_cast<int>(ph);
    return {W / 2 - iw / 2, H / 2 - ih / 2, iw, ih};
}

}  // namespace kestrum
