// Helpers for the dialog tests: answering a modal window from inside its own
// modal loop, and small pictures written into a picture folder of the test's own.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kestrum::test {

// Once a visible top-level T (with that object name, when given) appears, act
// runs on it, from inside the modal loop that shows it. The flag turns true then.
template <typename T>
std::shared_ptr<bool> whenShown(std::function<void(T*)> act, const QString& name = {}) {
    auto done = std::make_shared<bool>(false);
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, done, act, name] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            T* window = qobject_cast<T*>(w);
            if (!window || !window->isVisible() || (!name.isEmpty() && w->objectName() != name))
                continue;
            poll->stop();
            poll->deleteLater();
            *done = true;
            act(window);
            return;
        }
    });
    poll->start();
    return done;
}

// A picture of one colour with an optional square of another in its top-left
// corner, saved as a 24-bit BMP.
inline bool writePicture(const QString& path, QSize size, QColor fill, QColor corner = {},
                         int cornerSize = 0) {
    QImage image(size, QImage::Format_RGB888);
    image.fill(fill);
    for (int y = 0; y < cornerSize; ++y)
        for (int x = 0; x < cornerSize; ++x) image.setPixelColor(x, y, corner);
    return image.save(path, "BMP");
}

}  // namespace kestrum::test
