// The start-up splash: a borderless top-most window the size of its picture,
// centred on the screen, its shape cut to the picture by the key colour
// RGB(255, 0, 240), faded in and out where the window system can fade.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace kestrum::ui {

class CSplashScreenEx : public QWidget {
    Q_OBJECT
public:
    explicit CSplashScreenEx(QWidget* owner = nullptr);

    // Sizes the window to the picture, centres it and cuts its shape. False for
    // a null picture, which leaves nothing to show.
    bool setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return picture_; }

    // Both return when the fade has ended; a zero time shows or hides at once.
    void fadeIn(int milliseconds);
    void fadeOut(int milliseconds);

    // Waits on the UI thread, painting but taking no input.
    static void hold(int milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fade(double from, double to, int milliseconds);
    QPixmap picture_;
};

}  // namespace kestrum::ui
