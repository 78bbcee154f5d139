#include "ui/ScreenScale.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrum::ui {
namespace {
constexpr const char* kScaledMark = "KESTRUM_SCREEN_SCALED";
}  // namespace

double scaleForScreen(double physicalDpi, double devicePixelRatio) {
    // Beyond 600 dpi the monitor reports a size it does not have.
    if (devicePixelRatio > 1.0 || !(physicalDpi > 0) || physicalDpi > 600) return 0;
    // Rounded down: a window a little small beats one that does not fit.
    const double factor = std::floor(physicalDpi / 96.0 * 4) / 4;
    return factor >= 1.25 ? factor : 0;
}

void rescaleForScreen(char** argv) {
    // Whoever set a factor, or this function in the process it started, decides.
    for (const char* set :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
          "QT_AUTO_SCREEN_SCALE_FACTOR", kScaledMark})
        if (std::getenv(set)) return;
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    // A desktop that set its own DPI has chosen the size of things.
    if (!screen || std::lround(screen->logicalDotsPerInch()) != 96) return;
    const double factor = scaleForScreen(screen->physicalDotsPerInch(), screen->devicePixelRatio());
    if (factor == 0) return;
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", factor);
    ::setenv("QT_SCALE_FACTOR", text, 1);
    ::setenv(kScaledMark, text, 1);
    std::fprintf(stderr, "kestrum: the screen has %.0f dpi and no scale set: drawing at %s x.\n",
                 screen->physicalDotsPerInch(), text);
    ::execv("/proc/self/exe", argv);
    // Not started again: the windows stay as they are.
    ::unsetenv("QT_SCALE_FACTOR");
}

}  // namespace kestrum::ui
