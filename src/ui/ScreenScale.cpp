#include "ui/ScreenScale.h"

#include <xcb/xcb.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrum::ui {

double scaleForScreen(double dpi, double devicePixelRatio) {
    // Beyond 600 dpi the monitor reports a size it does not have.
    if (devicePixelRatio > 1.0 || !(dpi > 0) || dpi > 600) return 0;
    // Rounded down: a window a little small beats one that does not fit.
    // (A tenth of a step for millimetres rounded by the monitor.)
    const double factor = std::floor(dpi / 96.0 * 4 + 0.1) / 4;
    return factor >= 1.25 ? factor : 0;
}

std::optional<double> xftDpi(const std::string& resources) {
    for (size_t at = 0; at < resources.size();) {
        size_t end = resources.find('\n', at);
        if (end == std::string::npos) end = resources.size();
        const std::string line = resources.substr(at, end - at);
        at = end + 1;
        if (line.rfind("Xft.dpi:", 0) != 0) continue;
        char* stop = nullptr;
        const double dpi = std::strtod(line.c_str() + 8, &stop);
        if (stop != line.c_str() + 8 && dpi > 0) return dpi;
    }
    return std::nullopt;
}

namespace {

// The root window's resource list, where desktops put Xft.dpi.
std::string rootResources(xcb_connection_t* x, const xcb_screen_t* screen) {
    const auto cookie = xcb_get_property(x, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER,
                                         XCB_ATOM_STRING, 0, 1 << 16);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
    if (!reply) return {};
    const std::string text(static_cast<const char*>(xcb_get_property_value(reply)),
                           static_cast<size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return text;
}

}  // namespace

double scaleForDisplay() {
    for (const char* set : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                            "QT_ENABLE_HIGHDPI_SCALING", "QT_AUTO_SCREEN_SCALE_FACTOR"})
        if (std::getenv(set)) return 0;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strncmp(platform, "xcb", 3) != 0) return 0;  // offscreen, wayland...
    if (!platform && std::getenv("WAYLAND_DISPLAY")) return 0;  // Qt follows the output's scale
    if (!std::getenv("DISPLAY")) return 0;
    int number = 0;
    xcb_connection_t* x = xcb_connect(nullptr, &number);
    if (xcb_connection_has_error(x)) {
        xcb_disconnect(x);
        return 0;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x));
    for (int i = 0; i < number && it.rem > 0; ++i) xcb_screen_next(&it);
    double dpi = 0;
    const char* from = "";
    if (it.rem > 0) {
        const xcb_screen_t* screen = it.data;
        if (const auto desktop = xftDpi(rootResources(x, screen))) {
            dpi = *desktop;
            from = "the desktop's Xft.dpi";
        } else if (screen->height_in_millimeters > 0) {
            dpi = screen->height_in_pixels * 25.4 / screen->height_in_millimeters;
            from = "the screen's size";
        }
    }
    xcb_disconnect(x);
    const double factor = scaleForScreen(dpi, 1.0);
    if (factor == 0) return 0;
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", factor);
    ::setenv("QT_SCALE_FACTOR", text, 1);
    std::fprintf(stderr, "kestrum: %.0f dpi (%s): windows drawn at %s x.\n", dpi, from, text);
    return factor;
}

}  // namespace kestrum::ui
