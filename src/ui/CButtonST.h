// The bitmap button of the toolbars, the navigation and the main page: a normal
// and a hover picture, each with its key colour made transparent, drawn with no
// button face so the page's background shows around and through it.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

class QPainter;

namespace kestrum::ui {

class CButtonST : public QAbstractButton {
    Q_OBJECT
public:
    explicit CButtonST(QWidget* parent = nullptr);

    void setPictures(const QPixmap& normal, const QColor& normalKey, const QPixmap& hover,
                     const QColor& hoverKey);
    // The pictures of those names from the picture folder; the hover picture's
    // key is always RGB(189, 230, 231).
    void loadPictures(const QString& normalName, const QColor& normalKey, const QString& hoverName);

    bool isHovered() const { return hovered_; }
    bool hasPictures() const { return !normal_.isNull() || !hover_.isNull(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void paintFace(QPainter& painter);

    QPixmap normal_;
    QPixmap hover_;
    bool hovered_ = false;
    bool keyboardFocus_ = false;  // the focus came from, or was used by, the keyboard
};

}  // namespace kestrum::ui
