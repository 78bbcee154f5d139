#include "ui/CButtonST.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QPainter>

#include "ui/Skin.h"

namespace kestrum::ui {

CButtonST::CButtonST(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    // Reached with Tab; a mouse click leaves the keyboard where the user was typing.
    setFocusPolicy(Qt::TabFocus);
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
    paintFace(painter);
    if (!hasFocus() || !keyboardFocus_) return;
    // The keyboard's mark over the face: a dotted frame, light under dark, seen
    // on any picture.
    const QRectF frame = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setOpacity(1);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRoundedRect(frame, 3, 3);
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRoundedRect(frame, 3, 3);
}

void CButtonST::paintFace(QPainter& painter) {
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

void CButtonST::focusInEvent(QFocusEvent* event) {
    // As on the desktop the program mimics: the mark shows once the keyboard is in
    // use, not when a window merely gives its first control the focus.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason ||
                     event->reason() == Qt::BacktabFocusReason ||
                     event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

void CButtonST::keyPressEvent(QKeyEvent* event) {
    if (!keyboardFocus_) {
        keyboardFocus_ = true;
        update();
    }
    // Enter and Return press the focused button, as Space does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void CButtonST::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    // A modal window that opens under the pointer takes the leave event with it.
    window()->installEventFilter(this);
    update();
    QAbstractButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

bool CButtonST::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && hovered_ &&
        (event->type() == QEvent::WindowBlocked || event->type() == QEvent::Hide)) {
        hovered_ = false;
        update();
    }
    return QAbstractButton::eventFilter(watched, event);
}

}  // namespace kestrum::ui
