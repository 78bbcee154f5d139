#include "ui/Skin.h"

#include <QApplication>
#include <QBitmap>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QStyleFactory>

#include <cmath>

#include "app/Session.h"
#include "platform/Folders.h"

namespace kestrum::ui {

QString picturePath(const QString& name) {
    return QString::fromStdString(
        platform::joinPath(session().dataFolder.load(), name.toStdString()));
}

QPixmap loadPicture(const QString& name) {
    QPixmap picture;
    picture.load(picturePath(name));
    return picture;
}

QPixmap withKeyTransparent(const QPixmap& picture, const QColor& key) {
    if (picture.isNull()) return picture;
    QPixmap result = picture;
    result.setMask(picture.createMaskFromColor(key, Qt::MaskInColor));
    return result;
}

QIcon appIcon() {
    const QPixmap picture = loadPicture(kIconPicture);
    return picture.isNull() ? QIcon() : QIcon(picture);
}

QFrame* makeGroupFrame(QWidget* parent, const QRect& geometry) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette colours = frame->palette();
    colours.setColor(QPalette::WindowText, QColor(160, 170, 185));
    frame->setPalette(colours);
    frame->setGeometry(geometry);
    return frame;
}

void applyLook() {
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    QApplication::setFont(font);
}

int duX(double units) {
    return static_cast<int>(std::lround(units * 1.5));
}

int duY(double units) {
    return static_cast<int>(std::lround(units * 1.625));
}

QRect duRect(double x, double y, double w, double h) {
    return {duX(x), duY(y), duX(w), duY(h)};
}

QSize duSize(double w, double h) {
    return {duX(w), duY(h)};
}

}  // namespace kestrum::ui
