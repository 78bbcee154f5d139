// The desktop services the windows use: opening documents and links, starting a
// program, ending the process. Each can be replaced, so tests see what would
// have been opened and a confirmed exit does not end the test process.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace kestrum::ui {

using UrlOpener = std::function<bool(const QUrl&)>;
using ProgramStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
using ProcessEnd = std::function<void(int code)>;

// The shell's "open": the desktop's opener for documents, links and folders.
bool openUrl(const QUrl& url);
// True while a test's opener stands in for the desktop's.
bool hasUrlOpener();
// Starts a program without waiting for it.
bool startProgram(const QString& program, const QStringList& arguments);
// Ends the process at once with the code: nothing is saved, no window closes.
void endProcess(int code);

// An empty function restores the real service.
void setUrlOpener(UrlOpener opener);
void setProgramStarter(ProgramStarter starter);
void setProcessEnd(ProcessEnd end);

}  // namespace kestrum::ui
