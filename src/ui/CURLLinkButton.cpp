#include "ui/CURLLinkButton.h"

#include <QPainter>

#include "ui/Shell.h"

namespace kestrum::ui {

CURLLinkButton::CURLLinkButton(const QString& text, const QUrl& url, QWidget* parent)
    : QAbstractButton(parent), url_(url) {
    setText(text);
    setToolTip(url.toString());
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] { openUrl(url_); });
}

QSize CURLLinkButton::sizeHint() const {
    return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(2, 2);
}

void CURLLinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFont font = this->font();
    font.setUnderline(true);
    painter.setFont(font);
    painter.setPen(hovered_ ? QColor(200, 60, 0) : QColor(0, 60, 170));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}

void CURLLinkButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CURLLinkButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace kestrum::ui
