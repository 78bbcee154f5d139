#include "app/COrvDigitalMediaDlg.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <ctime>

#include "app/Reports.h"
#include "app/Session.h"
#include "ui/CButtonST.h"
#include "ui/CSplashScreenEx.h"
#include "ui/Skin.h"

namespace kestrum {

namespace {
COrvDigitalMediaDlg::SourcePageFactory sourcePageFactory;
bool splashEnabled = true;

constexpr int kFadeInMs = 500;
constexpr int kSplashHoldMs = 1500;
constexpr int kFadeOutMs = 200;
}  // namespace

void COrvDigitalMediaDlg::setSourcePageFactory(SourcePageFactory factory) {
    sourcePageFactory = std::move(factory);
}

void COrvDigitalMediaDlg::setSplashEnabled(bool enabled) {
    splashEnabled = enabled;
}

COrvDigitalMediaDlg::COrvDigitalMediaDlg(QWidget* parent) : ui::CBDialog(parent) {
    ui::setUpPageFrame(this, "mainWindow");
    menu_ = ui::installMenu129(this);
    toolbar_ = ui::installToolbar(this);

    digitalMedia_ = new ui::CButtonST(client());  // 4
    digitalMedia_->setObjectName("digitalMediaButton");
    digitalMedia_->setGeometry(ui::duRect(74, 119, 120, 120));
    digitalMedia_->setToolTip("Digital Media");
    imageCreation_ = new ui::CButtonST(client());  // 3
    imageCreation_->setObjectName("imageCreationButton");
    imageCreation_->setGeometry(ui::duRect(255, 119, 120, 120));
    imageCreation_->setToolTip("Image Creation");
    connect(digitalMedia_, &ui::CButtonST::clicked, this,
            [this] { runSourcePage(kMediaRecovery); });
    connect(imageCreation_, &ui::CButtonST::clicked, this, [this] { runSourcePage(kDiskImaging); });

    // The dialog's own OK and Cancel, never shown. OK does nothing: Enter on the
    // main window must not end the program without asking.
    auto* ok = new QPushButton(client());
    ok->setObjectName("okButton");
    ok->setAutoDefault(false);
    ok->hide();
    auto* cancel = new QPushButton(client());
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &COrvDigitalMediaDlg::reject);
}

void COrvDigitalMediaDlg::initDialog() {
    if (initialised_) return;
    initialised_ = true;
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    setWindowIcon(ui::appIcon());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), sizeHint());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    if (splashEnabled) runSplash();

    digitalMedia_->loadPictures("\\DigitalMedia.bmp", ui::kLargeButtonKey, "\\DigitalMediaA.bmp");
    imageCreation_->loadPictures("\\ImageCreation.bmp", ui::kLargeButtonKey,
                                 "\\ImageCreationA.bmp");
    loadBackground("\\guim.bmp");
    menu_.recoverSelected->setEnabled(false);

    appendLines(LogKind::Activity,
                startOfRunLines(session().windowTitle.load(), session().versionText.load(),
                                std::time(nullptr)));
}

int COrvDigitalMediaDlg::exec() {
    initDialog();
    return ui::CBDialog::exec();
}

void COrvDigitalMediaDlg::runSplash() {
    ui::CSplashScreenEx splash(this);
    if (!splash.setPicture(ui::loadPicture("\\FrontV.bmp"))) return;
    splash.fadeIn(kFadeInMs);
    ui::CSplashScreenEx::hold(kSplashHoldMs);
    splash.fadeOut(kFadeOutMs);
}

void COrvDigitalMediaDlg::runSourcePage(int mode) {
    if (!sourcePageFactory) return;
    std::unique_ptr<QDialog> page = sourcePageFactory(mode, this);
    if (page) ui::runPage(this, *page);
}

void COrvDigitalMediaDlg::reject() {
    ui::confirmExit();
}

}  // namespace kestrum
