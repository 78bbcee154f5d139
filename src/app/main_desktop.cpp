// The desktop application's entry point.
#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/COrvDigitalMediaApp.h"
#include "ui/ScreenScale.h"

int main(int argc, char** argv) {
    // The media player's FFmpeg back end crashes without a sound device; the
    // GStreamer one works everywhere.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    const bool display =
        std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!display) {
        const std::string folder = QFileInfo(argv[0]).path().toStdString();
        std::fprintf(stderr,
                     "kestrum: there is no display to show the window on.\n"
                     "  Start it on a virtual display:  xvfb-run -a %s\n"
                     "  Or use the command-line tool:   %s/kestrum-recover --help\n",
                     argv[0], folder.c_str());
        return 1;
    }
    // A dense screen without a desktop scale: Qt takes the factor as it starts.
    kestrum::ui::scaleForDisplay();
    QApplication application(argc, argv);
    kestrum::COrvDigitalMediaApp app;
    return app.initInstance();
}
