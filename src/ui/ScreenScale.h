// How large the windows are drawn on a dense screen. The desktop's own scale
// (Xft.dpi on X11, or QT_SCALE_FACTOR and the like, or the output's scale on
// Wayland, which Qt follows) comes first; where none is set, the screen's
// DPI decides, so the pages of a 4K monitor are not a tiny box.
#pragma once

#include <optional>
#include <string>

namespace kestrum::ui {

// The factor for a screen of that DPI that Qt draws at devicePixelRatio:
// quarter steps of 96 dpi, rounded down, from 1.25 up; 0 when the screen needs
// none, is already scaled, or reports no believable size.
double scaleForScreen(double dpi, double devicePixelRatio);

// The DPI the desktop asks for in its X resources ("Xft.dpi: 192"), if any.
std::optional<double> xftDpi(const std::string& resources);

// Called before the application object exists (Qt takes its factor as it
// starts): on an X display where nobody set a scale, sets QT_SCALE_FACTOR from
// Xft.dpi, else from the screen's size in millimetres. Returns the factor set,
// 0 when none.
double scaleForDisplay();

}  // namespace kestrum::ui
