// The desktop application's entry point.
#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

#include "app/COrvDigitalMediaApp.h"

int main(int argc, char** argv) {
    // The media player's FFmpeg back end crashes without a sound device; the
    // GStreamer one works everywhere.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    const bool display =
        std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!display) {
        std::fprintf(stderr,
                     "kestrum: no display to show the window on.\n"
                     "Start it under a virtual display:   xvfb-run -a %s\n"
                     "or use the command-line tool:       %s/kestrum-recover --help\n",
                     argv[0], QFileInfo(argv[0]).absolutePath().toLocal8Bit().constData());
        return 1;
    }
    QApplication application(argc, argv);
    kestrum::COrvDigitalMediaApp app;
    return app.initInstance();
}
