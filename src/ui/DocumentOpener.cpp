#include "ui/DocumentOpener.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUrl>

#include "app/Prompter.h"
#include "ui/Shell.h"

namespace kestrum::ui {
namespace {

void tell(const QString& what, const QString& path, const QString& why) {
    prompter().showMessage(
        ("Could not open " + what + " (" + why + "). Open it yourself: " + path).toStdString(),
        MessageIcon::Exclamation);
}

}  // namespace

bool openDocument(const QString& path, const QString& what) {
    // A replaced opener (the tests') answers at once.
    if (hasUrlOpener()) {
        if (openUrl(QUrl::fromLocalFile(path))) return true;
        tell(what, path, "the desktop has no program for it");
        return false;
    }
    // xdg-open is watched to its end: its failures come after it has started.
    auto* opener = new QProcess(QCoreApplication::instance());
    opener->setProgram("xdg-open");
    opener->setArguments({path});
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, what, path](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0)
                             tell(what, path, QString("xdg-open ended with status %1").arg(code));
                         opener->deleteLater();
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, what, path](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         tell(what, path, "xdg-open cannot be started: " + opener->errorString());
                         opener->deleteLater();
                     });
    opener->start();
    return opener->waitForStarted(2000);
}

}  // namespace kestrum::ui
