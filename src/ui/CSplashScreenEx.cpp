#include "ui/CSplashScreenEx.h"

#include <QBitmap>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

#include "ui/Skin.h"

namespace kestrum::ui {

CSplashScreenEx::CSplashScreenEx(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("splash");
    setAttribute(Qt::WA_ShowWithoutActivating);
}

bool CSplashScreenEx::setPicture(const QPixmap& picture) {
    picture_ = picture;
    if (picture_.isNull()) return false;
    setFixedSize(picture_.size());
    setMask(picture_.createMaskFromColor(kSplashKey, Qt::MaskInColor));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), picture_.size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    return true;
}

void CSplashScreenEx::fadeIn(int milliseconds) {
    setWindowOpacity(milliseconds > 0 ? 0.0 : 1.0);
    show();
    raise();
    if (milliseconds > 0) fade(0.0, 1.0, milliseconds);
}

void CSplashScreenEx::fadeOut(int milliseconds) {
    if (milliseconds > 0) fade(1.0, 0.0, milliseconds);
    hide();
}

void CSplashScreenEx::hold(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CSplashScreenEx::fade(double from, double to, int milliseconds) {
    // Where the window system cannot fade, the opacity is ignored and the window
    // simply shows (or stays) until the time has passed.
    QPropertyAnimation animation(this, "windowOpacity");
    animation.setDuration(milliseconds);
    animation.setStartValue(from);
    animation.setEndValue(to);
    QEventLoop loop;
    connect(&animation, &QPropertyAnimation::finished, &loop, &QEventLoop::quit);
    animation.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CSplashScreenEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

}  // namespace kestrum::ui
