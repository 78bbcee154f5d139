// Text drawn over a page's background picture: no fill of its own, so the
// picture shows through, and a changed text leaves nothing of the old one.
#pragma once

#include <QLabel>

namespace kestrum::ui {

class CTransparentStatic : public QLabel {
    Q_OBJECT
public:
    explicit CTransparentStatic(const QString& text = {}, QWidget* parent = nullptr);
};

}  // namespace kestrum::ui
