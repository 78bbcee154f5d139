#include "app/COrvDigitalMediaApp.h"

#include <QApplication>

#include "app/COrvDigitalMediaDlg.h"
#include "app/Session.h"
#include "disk/CPartitionInfoDlg.h"
#include "filetypes/CExtensionInfoDlg.h"
#include "ui/QtPrompter.h"
#include "ui/Skin.h"

namespace kestrum {

int COrvDigitalMediaApp::initInstance() {
    // The control classes register themselves with Qt, and the media player's
    // back end is chosen before the application object exists (main).
    ui::applyLook();
    loadStartupValues(session());
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QApplication::setWindowIcon(ui::appIcon());
    // The main window hides while a page runs; that must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // The two workflows begin on the source page, in the mode of the button.
    COrvDigitalMediaDlg::setSourcePageFactory(CPartitionInfoDlg::create);
    // Media recovery goes on from the source page to the file-type page.
    CPartitionInfoDlg::setFileTypePageFactory(runFileTypePage);
    ui::QtPrompter prompter;
    setPrompter(&prompter);
    {
        COrvDigitalMediaDlg mainWindow;
        mainWindow.exec();
    }
    setPrompter(nullptr);
    return 0;
}

}  // namespace kestrum
