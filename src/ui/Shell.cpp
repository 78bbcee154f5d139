#include "ui/Shell.h"

#include <QDesktopServices>
#include <QProcess>

#include <cstdlib>

namespace kestrum::ui {
namespace {
UrlOpener urlOpener;
ProgramStarter programStarter;
ProcessEnd processEnd;
}  // namespace

bool openUrl(const QUrl& url) {
    return urlOpener ? urlOpener(url) : QDesktopServices::openUrl(url);
}

bool hasUrlOpener() {
    return static_cast<bool>(urlOpener);
}

bool startProgram(const QString& program, const QStringList& arguments) {
    return programStarter ? programStarter(program, arguments)
                          : QProcess::startDetached(program, arguments);
}

void endProcess(int code) {
    if (processEnd) {
        processEnd(code);
        return;
    }
    std::_Exit(code);
}

void setUrlOpener(UrlOpener opener) {
    urlOpener = std::move(opener);
}

void setProgramStarter(ProgramStarter starter) {
    programStarter = std::move(starter);
}

void setProcessEnd(ProcessEnd end) {
    processEnd = std::move(end);
}

}  // namespace kestrum::ui
