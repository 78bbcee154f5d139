#include "ui/CTransparentStatic.h"

namespace kestrum::ui {

CTransparentStatic::CTransparentStatic(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    // A child that fills nothing is repainted together with the part of the
    // parent under it, which is what keeps an old text from remaining.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setTextFormat(Qt::PlainText);
}

}  // namespace kestrum::ui
