#include "preview/CPictureCtrl.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <cerrno>

#include "preview/PicturePlacement.h"
#include "preview/StillDecode.h"

namespace kestrum {

namespace {

// Qt's image readers first (JPEG, PNG, WebP, ...); then HEIF, AVIF and raws.
QImage decodePicture(const QByteArray& bytes) {
    QImage image = QImage::fromData(bytes);
    if (!image.isNull()) return image;
    const auto still =
        decodeStill(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    if (!still) return {};
    if (!still->encoded.empty())
        return QImage::fromData(still->encoded.data(), static_cast<int>(still->encoded.size()));
    return QImage(still->rgba.data(), still->width, still->height, still->width * 4,
                  QImage::Format_RGBA8888)
        .copy();
}

}  // namespace

CPictureCtrl::CPictureCtrl(QWidget* parent) : QWidget(parent) {
    setObjectName("pictureCtrl");
}

bool CPictureCtrl::LoadFromFile(const QString& path) {
    errno = 0;
    {
        std::lock_guard lock(lock_);
        loaded_ = false;
        stream_.clear();
        image_ = QImage();
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
    // Decoded once here; the paint draws the decoded picture.
    QImage image = decodePicture(copy);
    const bool decodable = !image.isNull();
    {
        std::lock_guard lock(lock_);
        stream_ = copy;
        image_ = std::move(image);
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
    QImage image;
    {
        std::lock_guard lock(lock_);
        if (!loaded_) return;
        image = image_;  // shared, not copied: a load meanwhile swaps in a new one
    }
    const int W = width();
    const int H = height();
    QPainter painter(this);
    painter.fillRect(rect(), kGround);
    painter.setPen(kFrame);
    painter.drawRect(0, 0, W - 1, H - 1);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (image.isNull()) return;
    const PicturePlace at = placePicture(W, H, image.width(), image.height());
    painter.drawImage(QRect(at.left, at.top, at.width, at.height), image);
}

}  // namespace kestrum
