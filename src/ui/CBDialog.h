// The skinned dialog base of every page and box: a client area that paints its
// background picture tiled from its top-left corner, with the menu (when the
// page has one) above it, as a dialog's menu sits above its client area.
#pragma once

#include <QDialog>
#include <QPixmap>

class QMenuBar;
class QVBoxLayout;

namespace kestrum::ui {

class CBDialog : public QDialog {
    Q_OBJECT
public:
    explicit CBDialog(QWidget* parent = nullptr);

    // Controls are placed on the client area, in its coordinates.
    QWidget* client() const { return client_; }
    // The client area's size; the dialog is fixed around it (and its menu).
    void setClientSize(QSize size);
    // Lets the window grow (and maximise) from its client size up; the page
    // places its controls anew when the client area's size changes.
    void allowGrowing();

    // Attaches the picture and repaints; a null picture leaves the plain face.
    void setBackground(const QPixmap& picture);
    // Loads the named picture from the picture folder; false when it is missing.
    bool loadBackground(const QString& name);
    const QPixmap& background() const { return background_; }
    // Always 0: tiled. The other drawing modes were never used.
    int drawingMode() const { return 0; }

    void setMenu(QMenuBar* menu);
    QMenuBar* menu() const { return menu_; }

private:
    class BackgroundArea;
    QVBoxLayout* layout_;
    QWidget* client_;  // a BackgroundArea
    QMenuBar* menu_ = nullptr;
    QPixmap background_;
    bool growable_ = false;
};

}  // namespace kestrum::ui
