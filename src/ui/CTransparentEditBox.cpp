#include "ui/CTransparentEditBox.h"

namespace kestrum::ui {

CTransparentEditBox::CTransparentEditBox(QWidget* parent) : QPlainTextEdit(parent) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
    setBackgroundVisible(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

}  // namespace kestrum::ui
