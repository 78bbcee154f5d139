#include "ui/CBDialog.h"

#include <QMenuBar>
#include <QPainter>
#include <QVBoxLayout>

#include "app/Session.h"
#include "ui/Skin.h"

namespace kestrum::ui {

class CBDialog::BackgroundArea : public QWidget {
public:
    explicit BackgroundArea(CBDialog* owner) : QWidget(owner), owner_(owner) {
        setObjectName("client");
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const QPixmap& picture = owner_->background();
        if (picture.isNull()) return;
        if (!owner_->growable_) {
            // Plain copies at steps of the picture's size, no scaling.
            painter.drawTiledPixmap(rect(), picture);
            return;
        }
        // A grown page: the picture once, its last column and row drawn on to
        // the right and down, so bands and lines run on instead of repeating.
        const int pw = picture.width(), ph = picture.height();
        painter.drawPixmap(0, 0, picture);
        if (width() > pw)
            painter.drawPixmap(QRect(pw, 0, width() - pw, ph), picture, {pw - 1, 0, 1, ph});
        if (height() > ph)
            painter.drawPixmap(QRect(0, ph, pw, height() - ph), picture, {0, ph - 1, pw, 1});
        if (width() > pw && height() > ph)
            painter.drawPixmap(QRect(pw, ph, width() - pw, height() - ph), picture,
                               {pw - 1, ph - 1, 1, 1});
    }

private:
    CBDialog* owner_;
};

CBDialog::CBDialog(QWidget* parent)
    : QDialog(parent), layout_(new QVBoxLayout(this)), client_(new BackgroundArea(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    layout_->addWidget(client_);
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    setWindowIcon(appIcon());
}

void CBDialog::setClientSize(QSize size) {
    client_->setFixedSize(size);
}

void CBDialog::allowGrowing() {
    growable_ = true;
    client_->setMinimumSize(client_->size());
    client_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    client_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout_->setSizeConstraint(QLayout::SetMinimumSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
}

void CBDialog::setBackground(const QPixmap& picture) {
    background_ = picture;
    client_->update();
}

bool CBDialog::loadBackground(const QString& name) {
    setBackground(loadPicture(name));
    return !background_.isNull();
}

void CBDialog::setMenu(QMenuBar* menu) {
    menu_ = menu;
    layout_->setMenuBar(menu);
}

}  // namespace kestrum::ui
