#include "ui/CButtonST.h"

#include <QEnterEvent>
#include <QPainter>

#include "ui/Skin.h"

namespace kestrum::ui {

CButtonST::CButtonST(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

void CButtonST::setPictures(const QPixmap& normal, const QColor& normalKey, const QPixmap& hover,
                            const QColor& hoverKey) {
    normal_ = withKeyTransparent(normal, normalKey);
    hover_ = withKeyTransparent(hover, hoverKey);
    update();
}

void CButtonST::loadPictures(const QString& normalName, const QColor& normalKey,
                             const QString& hoverName) {
    setPictures(loadPicture(normalName), normalKey, loadPicture(hoverName), kHoverKey);
}

QSize CButtonST::sizeHint() const {
    return normal_.isNull() ? QSize(38, 30) : normal_.size();
}

void CButtonST::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!isEnabled()) painter.setOpacity(0.4);
    const QPixmap& picture = hovered_ && !hover_.isNull() ? hover_ : normal_;
    if (!picture.isNull()) {
        // Pressed pictures shift by a pixel, as a pushed button does.
        const QPoint shift = isDown() ? QPoint(1, 1) : QPoint(0, 0);
        painter.drawPixmap(shift, picture);
        return;
    }
    if (hasPictures()) return;
    // Without a skin the button is still findable: its name in a thin frame.
    painter.setRenderHint(QPainter::Antialiasing);
    QColor ink = palette().color(QPalette::WindowText);
    ink.setAlpha(hovered_ ? 255 : 160);
    painter.setPen(ink);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    const QString label = text().isEmpty() ? toolTip() : text();
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, label);
}

void CButtonST::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace kestrum::ui
