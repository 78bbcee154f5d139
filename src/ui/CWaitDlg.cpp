#include "ui/CWaitDlg.h"

#include "preview/PreviewCopy.h"
#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum::ui {

CWaitDlg::CWaitDlg(QWidget* parent) : CBDialog(parent) {
    setObjectName("waitDlg");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setClientSize(duSize(138, 37));
    loadBackground("\\Preview.bmp");

    makeGroupFrame(client(), duRect(4, 3, 130, 31))->setObjectName("waitFrame");
    auto* text = new CTransparentStatic("Please Wait...", client());
    text->setObjectName("waitText");  // 1006
    text->setGeometry(duRect(10, 13, 118, 10));
    text->setAlignment(Qt::AlignCenter);

    // A precise timer never fires early, so the box really stays a full tick.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &CWaitDlg::tick);
}

void CWaitDlg::showEvent(QShowEvent* event) {
    CBDialog::showEvent(event);
    timer_.start();
}

void CWaitDlg::tick() {
    ++ticks_;
    if (listFillThread().running() || previewThread().running()) return;
    timer_.stop();
    done(QDialog::Accepted);
}

}  // namespace kestrum::ui
