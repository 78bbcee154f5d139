#include "preview/PicturePlacement.h"

namespace kestrum {

PicturePlace placePicture(int W, int H, int w, int h) {
    // Each half is taken by itself: W/2 - w/2, not (W - w)/2.
    if (w < W && h < H) return {W / 2 - w / 2, H / 2 - h / 2, w, h};
    if (w < W) return {W / 2 - w / 2, 3, w, H - 4};
    if (h < H) return {3, H / 2 - h / 2, W - 4, h};
    return {1, 1, W - 3, H - 3};
}

}  // namespace kestrum
