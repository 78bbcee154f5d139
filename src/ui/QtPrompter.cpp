#include "ui/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "app/Session.h"
#include "disk/CBadSectors.h"
#include "saving/CReplaceDlg.h"
#include "ui/DocumentOpener.h"
#include "ui/Shell.h"
#include "ui/Skin.h"

namespace kestrum::ui {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// A system-modal box with the session's caption, owned by the window in front.
int runBox(QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons,
           const char* name) {
    QWidget* owner = QApplication::activeWindow();
    QMessageBox box(icon, QString::fromStdString(session().messageCaption.load()),
                    QString::fromStdString(text), buttons, owner);
    box.setObjectName(name);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowIcon(appIcon());
    // Keys typed after the box closes go where they went before it opened.
    const QPointer<QWidget> hadFocus = QApplication::focusWidget();
    const int answer = box.exec();
    if (hadFocus && hadFocus->isVisible()) {
        hadFocus->activateWindow();
        hadFocus->setFocus(Qt::OtherFocusReason);
    }
    return answer;
}

}  // namespace

QtPrompter::QtPrompter(QObject* parent) : QObject(parent) {
    setObjectName("qtPrompter");
}

template <typename Result, typename Ask>
Result QtPrompter::onUiThread(Ask ask, Result withoutUi) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QCoreApplication::closingDown()) return withoutUi;
    if (QThread::currentThread() == thread()) return ask();
    Result result = withoutUi;
    QMetaObject::invokeMethod(
        this, [&result, &ask] { result = ask(); }, Qt::BlockingQueuedConnection);
    return result;
}

void QtPrompter::showMessage(const std::string& text, MessageIcon icon) {
    onUiThread(
        [&] {
            runBox(boxIcon(icon), text, QMessageBox::Ok, "messageBox");
            return true;
        },
        false);
}

bool QtPrompter::confirm(const std::string& text) {
    return onUiThread(
        [&] {
            return runBox(QMessageBox::Question, text, QMessageBox::Ok | QMessageBox::Cancel,
                          "confirmBox") == QMessageBox::Ok;
        },
        false);
}

bool QtPrompter::openInTextViewer(const std::string& path) {
    return onUiThread([&] { return openDocument(QString::fromStdString(path), "the log file"); },
                      false);
}

BadSectorAnswer QtPrompter::askBadSector() {
    return onUiThread(
        [] {
            CBadSectors box;
            box.exec();
            return box.answer();
        },
        BadSectorAnswer::Skip);
}

ReplaceAnswer QtPrompter::askReplace(const std::string& fileName) {
    return onUiThread(
        [&] {
            CReplaceDlg box;
            box.setFileName(QString::fromStdString(fileName));
            box.exec();
            return box.answer();
        },
        ReplaceAnswer::Cancel);
}

}  // namespace kestrum::ui
