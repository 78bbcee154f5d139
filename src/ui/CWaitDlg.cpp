#include "ui/CWaitDlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QWindow>

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

namespace {

bool isInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

// Stands in for the modal block while the box waits without being modal.
class InputGate : public QObject {
public:
    InputGate(QWidget* box, const CWaitDlg::InputTaker& take) : box_(box), take_(take) {}
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!isInput(event->type())) return false;
        if (auto* w = qobject_cast<QWidget*>(receiver); w && (w == box_ || box_->isAncestorOf(w)))
            return false;
        // The work waited for may ask a question (a preview copy meeting a bad
        // sector): that prompt must be answerable, or neither ever ends.
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != box_) {
            if (auto* w = qobject_cast<QWidget*>(receiver);
                w && (w == modal || modal->isAncestorOf(w)))
                return false;
            if (receiver == modal->windowHandle()) return false;
        }
        return !(take_ && take_(receiver, event));
    }

private:
    QWidget* box_;
    const CWaitDlg::InputTaker& take_;
};

}  // namespace

void CWaitDlg::waitTakingInput(const InputTaker& take) {
    InputGate gate(this, take);
    qApp->installEventFilter(&gate);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    if (isVisible()) loop.exec();
    qApp->removeEventFilter(&gate);
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
