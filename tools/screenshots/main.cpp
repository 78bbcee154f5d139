// kestrum-screenshots: the desktop application with the screenshot tour, which
// saves a PNG of every window it reaches into FOLDER and then ends.
#include <QApplication>

#include <cstdio>

#include "ScreenshotTour.h"
#include "app/COrvDigitalMediaApp.h"
#include "ui/ScreenScale.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s FOLDER   (run on a display, e.g. under xvfb-run)\n",
                     argv[0]);
        return 1;
    }
    // As the application: the GStreamer media back end works without a sound device.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    // A dense screen without a desktop scale: Qt takes the factor as it starts.
    kestrum::ui::scaleForDisplay();
    QApplication application(argc, argv);
    // Watching before the first window (the splash) opens.
    kestrum::ui::ScreenshotTour tour(QString::fromLocal8Bit(argv[1]));
    kestrum::COrvDigitalMediaApp app;
    return app.initInstance();
}
