// How large the windows are drawn on a dense screen. Qt follows the desktop's
// own scale (Xft.dpi on X11, the output's scale on Wayland, QT_SCALE_FACTOR);
// where nothing sets one, the screen's physical DPI decides, so the pages of a
// 4K monitor are not a tiny box.
#pragma once

namespace kestrum::ui {

// The factor for a screen of that physical DPI that Qt draws at
// devicePixelRatio: quarter steps of 96 dpi from 1.25 up; 0 when the screen
// needs none, is already scaled, or reports no believable size.
double scaleForScreen(double physicalDpi, double devicePixelRatio);

// Called once the application exists: when the primary screen needs a factor
// that nobody set, the program starts again with it (Qt takes its factor only
// as it starts). Returns when it did not.
void rescaleForScreen(char** argv);

}  // namespace kestrum::ui
