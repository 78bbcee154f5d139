#include "ui/PageCommands.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>

#include <cstdlib>

#include "app/CAboutDlg.h"
#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Session.h"
#include "imaging/ImagingExit.h"
#include "platform/Folders.h"
#include "platform/Registry.h"
#include "preview/PreviewCopy.h"
#include "ui/CBDialog.h"
#include "ui/CButtonST.h"
#include "ui/DocumentOpener.h"
#include "ui/Shell.h"
#include "ui/Skin.h"

namespace kestrum::ui {
namespace {

QAction* addCommand(QMenu* menu, const char* name, const QString& text, int id) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setData(id);
    return action;
}

CButtonST* addToolButton(CBDialog* page, const char* name, double x, const char* picture,
                         const char* hover, const QString& tip) {
    auto* button = new CButtonST(page->client());
    button->setObjectName(name);
    button->setGeometry(duRect(x, 7, 38, 30));
    button->loadPictures(picture, kToolbarKey, hover);
    button->setToolTip(tip);
    return button;
}

// The first place the bare name is found: the current folder, then PATH.
QString findBareName(const QString& name) {
    if (QFileInfo(QDir::current().filePath(name)).isFile()) return QDir::current().filePath(name);
    const QStringList folders = QString::fromLocal8Bit(qgetenv("PATH")).split(':');
    for (const QString& folder : folders) {
        if (folder.isEmpty()) continue;
        const QString candidate = QDir(folder).filePath(name);
        if (QFileInfo(candidate).isFile()) return candidate;
    }
    return {};
}

bool openIfPresent(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile() && openDocument(path, "the help file");
}

}  // namespace

void setUpPageFrame(CBDialog* page, const char* objectName) {
    page->setObjectName(objectName);
    page->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    page->setClientSize(duSize(450, 315));
}

Menu129 installMenu129(CBDialog* page) {
    Menu129 m;
    m.bar = new QMenuBar(page);
    m.bar->setObjectName("menu129");
    QMenu* options = m.bar->addMenu("&Options");
    options->setObjectName("optionsMenu");
    m.recoverSelected =
        addCommand(options, "recoverSelectedAction", "&Recover Selected", kRecoverSelectedCommand);
    options->addSeparator();
    m.exit = addCommand(options, "exitAction", "&Exit", kExitCommand);
    QMenu* log = m.bar->addMenu("&Log");
    log->setObjectName("logMenu");
    m.activityLog = addCommand(log, "activityLogAction", "&Activity Log", kActivityLogCommand);
    m.recoveryLog = addCommand(log, "recoveryLogAction", "&Recovery Log", kRecoveryLogCommand);
    m.clearActivityLog =
        addCommand(log, "clearActivityLogAction", "&Clear Activity Log", kClearActivityLogCommand);
    m.clearRecoveryLog =
        addCommand(log, "clearRecoveryLogAction", "Clear Recovery &Log", kClearRecoveryLogCommand);
    QMenu* support = m.bar->addMenu("&Support");
    support->setObjectName("supportMenu");
    m.help = addCommand(support, "helpAction", "&Help", kHelpCommand);
    m.aboutUs = addCommand(support, "aboutUsAction", "&About Us", kAboutUsCommand);

    m.recoverSelected->setEnabled(false);
    QObject::connect(m.exit, &QAction::triggered, page, [] { confirmExit(); });
    QObject::connect(m.activityLog, &QAction::triggered, page, [] { viewLog(LogKind::Activity); });
    QObject::connect(m.recoveryLog, &QAction::triggered, page, [] { viewLog(LogKind::Recovery); });
    QObject::connect(m.clearActivityLog, &QAction::triggered, page,
                     [] { clearLog(LogKind::Activity); });
    QObject::connect(m.clearRecoveryLog, &QAction::triggered, page,
                     [] { clearLog(LogKind::Recovery); });
    QObject::connect(m.help, &QAction::triggered, page, [] { openHelp(); });
    QObject::connect(m.aboutUs, &QAction::triggered, page, [page] { showAbout(page); });
    page->setMenu(m.bar);
    return m;
}

Toolbar installToolbar(CBDialog* page) {
    Toolbar t;
    t.picture = new QLabel(page->client());
    t.picture->setObjectName("toolbarPicture");
    t.picture->setGeometry(duRect(4, 7, 38, 30));
    t.picture->setPixmap(loadPicture("\\TSaveD.bmp"));  // a plain picture, no key
    t.help = addToolButton(page, "helpButton", 41, "\\THelp.bmp", "\\THelpA.bmp", "Help");
    t.aboutUs =
        addToolButton(page, "aboutUsButton", 81, "\\TAboutUs.bmp", "\\TAboutUsA.bmp", "About Us");
    t.exit = addToolButton(page, "exitButton", 119, "\\TExit.bmp", "\\TExitA.bmp", "Exit");
    QObject::connect(t.help, &CButtonST::clicked, page, [] { openHelp(); });
    QObject::connect(t.aboutUs, &CButtonST::clicked, page, [page] { showAbout(page); });
    QObject::connect(t.exit, &CButtonST::clicked, page, [] { confirmExit(); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), page);
    f1->setObjectName("helpKey");
    QObject::connect(f1, &QShortcut::activated, page, [] { openHelp(); });
    return t;
}

namespace {
UnsavedFilesCounter unsavedCounter;
}  // namespace

void setUnsavedFilesCounter(UnsavedFilesCounter counter) {
    unsavedCounter = std::move(counter);
}

size_t unsavedFiles() {
    return unsavedCounter ? unsavedCounter() : 0;
}

std::string unsavedFilesWarning(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files") +
           " found and not saved will be lost.";
}

void confirmExit() {
    const size_t unsaved = unsavedFiles();
    const std::string question = "Are you sure you want to exit?";
    if (!prompter().confirm(unsaved == 0 ? question
                                         : unsavedFilesWarning(unsaved) + "\n" + question))
        return;
    recordImagingExit();
    RemoveTempPreviews();
    endProcess(0);
}

void openHelp() {
    const platform::Registry registry;
    std::string folder =
        registry.readValue(platform::RegistryRoot::ClassesRoot, kInstallKey, "FilePath")
            .value_or(std::string());
    if (folder.empty()) folder = platform::programFolder();
    // The installation folder joins the search path, so the bare name finds the
    // file there. Only once, and never with an empty entry, which would put the
    // current folder on the path of every program started later.
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    if (path.size() < 2048 && (":" + path + ":").find(":" + folder + ":") == std::string::npos)
        ::setenv("PATH", (path.empty() ? folder : path + ":" + folder).c_str(), 1);

    if (openIfPresent(findBareName(kHelpFileName))) return;
    const QString full = QString::fromStdString(platform::joinPath(folder, kHelpFileName));
    if (openIfPresent(full)) return;
    // The last attempt is the desktop's help viewer.
    if (!startProgram("xdg-open", {full}))
        prompter().showMessage(
            "Could not open the help file " + full.toStdString() + ": xdg-open cannot be started.",
            MessageIcon::Exclamation);
}

void showAbout(QWidget* owner) {
    CAboutDlg about(owner);
    about.exec();
}

int runPage(QWidget* opener, QDialog& page) {
    // Hidden the plain widget way: hiding a dialog through QDialog would also
    // end its own modal loop, and the opener must run on when the page returns.
    // One page takes the place of the other: same spot on the screen both ways,
    // never where the window system would put a new dialog.
    // The client areas are lined up: a window never shown has no frame to measure.
    const QPoint at = opener->geometry().topLeft();
    opener->QWidget::setVisible(false);
    page.setGeometry(QRect(at, page.size()));
    const int result = page.exec();
    opener->setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    opener->setGeometry(QRect(page.geometry().topLeft(), opener->size()));
    opener->show();
    return result;
}

}  // namespace kestrum::ui
