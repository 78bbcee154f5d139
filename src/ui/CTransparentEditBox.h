// A text box on a white fill whose text is drawn without a background of its
// own (the read-only information boxes of the pages).
#pragma once

#include <QPlainTextEdit>

namespace kestrum::ui {

class CTransparentEditBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CTransparentEditBox(QWidget* parent = nullptr);
};

}  // namespace kestrum::ui
