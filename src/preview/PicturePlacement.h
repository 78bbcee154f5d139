// Where the picture control draws a picture of w x h in a client area of W x H:
// natural size and centred when it fits; otherwise scaled down to the area
// inside the frame keeping its proportions (a circle stays a circle), centred.
#pragma once

namespace kestrum {

struct PicturePlace {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PicturePlace&) const = default;
};

PicturePlace placePicture(int W, int H, int w, int h);

}  // namespace kestrum
