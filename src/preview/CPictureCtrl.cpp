#include "preview/CPictureCtrl.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <cerrno>

#include "preview/PicturePlacement.h"

namespace kestrum {

CPictureCtrl::CPictureCtrl(QWidget* parent) : QWidget(parent) {
    setObjectName("pictureCtrl");
}

bool CPictureCtrl::LoadFromFile(const QString& path) {
    errno = 0;
    {
        std::lock_guard lock(lock_);
        loaded_ = false;
        stream_.clear();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const int error = errno != 0 ? errno : ENOENT;
        repaintNow();
        errno = error;
        return false;
    }
    QByteArray copy;
    char block[1024];
    for (;;) {
        const qint64 n = file.read(block, sizeof block);
        if (n <= 0) break;
        copy.append(block, static_cast<qsizetype>(n));
    }
    file.close();
    // Decoded once here only to learn whether it can be; the paint decodes again.
    const bool decodable = !QImage::fromData(copy).isNull();
    {
        std::lock_guard lock(lock_);
        stream_ = copy;
        loaded_ = decodable;
    }
    repaintNow();
    return decodable;
}

bool CPictureCtrl::isLoaded() const {
    std::lock_guard lock(lock_);
    return loaded_;
}

QByteArray CPictureCtrl::copy() const {
    std::lock_guard lock(lock_);
    return stream_;
}

void CPictureCtrl::repaintNow() {
    if (QThread::currentThread() == thread())
        repaint();
    else
        QMetaObject::invokeMethod(
            this, [this] { repaint(); }, Qt::QueuedConnection);
}

void CPictureCtrl::paintEvent(QPaintEvent*) {
    QByteArray bytes;
    {
        std::lock_guard lock(lock_);
        if (!loaded_) return;
        bytes = stream_;  // shared, not copied: a load meanwhile swaps in a new array
    }
    const int W = width();
    const int H = height();
    QPainter painter(this);
    painter.fillRect(rect(), kGround);
    painter.setPen(kFrame);
    painter.drawRect(0, 0, W - 1, H - 1);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage image = QImage::fromData(bytes);
    if (image.isNull()) return;
    const PicturePlace at = placePicture(W, H, image.width(), image.height());
    painter.drawImage(QRect(at.left, at.top, at.width, at.height), image);
}

}  // namespace kestrum
