// The skin: pictures read from the session's picture folder by their fixed
// names, their key colours, and the dialog-unit geometry of the page templates.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QString>

class QFrame;
class QWidget;

namespace kestrum::ui {

// Key colours made transparent when a picture is drawn.
inline const QColor kHoverKey(189, 230, 231);
inline const QColor kToolbarKey(2, 2, 2);
inline const QColor kLargeButtonKey(255, 255, 255);
inline const QColor kSplashKey(255, 0, 240);

// Pictures the layout names by resource number only.
inline constexpr const char* kIconPicture = "\\Kestrum.png";  // icon 128, with alpha
inline constexpr const char* kAboutPicture = "\\About.bmp";   // picture 137

// The picture of that name in the picture folder ("\gui2.bmp"); a null pixmap
// when it is missing or unreadable, which then simply shows nothing.
QPixmap loadPicture(const QString& name);
QString picturePath(const QString& name);

// The picture with every pixel of exactly the key colour made transparent.
QPixmap withKeyTransparent(const QPixmap& picture, const QColor& key);

// Icon 128: the application icon; empty when it is missing.
QIcon appIcon();

// A group frame drawn as a thin line only, so the picture under it shows.
QFrame* makeGroupFrame(QWidget* parent, const QRect& geometry);

// The application's font and style: the dialog font's size (11 px), so that
// text fits the dialog-unit geometry.
void applyLook();

// Dialog units of the page templates in pixels: the dialog font's 1.5 px per
// horizontal unit and 1.625 px per vertical unit.
int duX(double units);
int duY(double units);
QRect duRect(double x, double y, double w, double h);
QSize duSize(double w, double h);

}  // namespace kestrum::ui
