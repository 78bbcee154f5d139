#include "imaging/CImageCreationDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include "app/Session.h"
#include "imaging/ExistingImage.h"
#include "imaging/ImagingExit.h"
#include "imaging/ImagingJob.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueRun.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "ui/CButtonST.h"
#include "ui/CTransparentEditBox.h"
#include "ui/CTransparentStatic.h"
#include "ui/FolderChooser.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {

constexpr const char* kPathNotFound = "Image path not found. Please specify image path.";

// What was typed as the destination outlives the page: Back, Escape and the
// close box never throw it away.
QString lastDestination;

ui::CButtonST* addNavButton(QWidget* parent, const char* name, const QRect& geometry,
                            const char* picture, const char* hover, const QString& tip) {
    auto* button = new ui::CButtonST(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->loadPictures(picture, ui::kToolbarKey, hover);
    button->setToolTip(tip);
    return button;
}

ui::CTransparentStatic* addLabel(QWidget* parent, const char* name, const QString& text,
                                 const QRect& geometry) {
    auto* label = new ui::CTransparentStatic(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

// Yes or No, No being the answer that Enter and Escape give: an image is lost for good.
bool confirmReplace(QWidget* owner, const std::vector<std::string>& pieces) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(session().messageCaption.load()),
                    QString::fromStdString(replaceImageQuestion(pieces)),
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setObjectName("replaceImageQuestion");
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace

CImageCreationDlg::CImageCreationDlg(const QString& sourceInfo, const QString& rootText,
                                     const QString& itemText, QWidget* parent)
    : ui::CBDialog(parent), run_(std::make_unique<ImagingRun>()) {
    ui::setUpPageFrame(this, "imageCreationDlg");
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    setWindowIcon(ui::appIcon());
    menu_ = ui::installMenu129(this);
    toolbar_ = ui::installToolbar(this);
    loadBackground("\\gui2.bmp");
    menu_.recoverSelected->setEnabled(false);

    tree_ = new QTreeWidget(client());  // 1001
    tree_->setObjectName("sourceTree");
    tree_->setGeometry(duRect(12, 52, 150, 76));
    tree_->setHeaderHidden(true);
    tree_->setIconSize(QSize(16, 16));
    const QIcon drive(ui::loadPicture("\\Drive.png"));
    auto* root = new QTreeWidgetItem(tree_, {rootText});
    root->setIcon(0, drive);
    auto* item = new QTreeWidgetItem(root, {itemText});
    item->setIcon(0, drive);
    root->setExpanded(true);
    tree_->setCurrentItem(item);

    info_ = new ui::CTransparentEditBox(client());  // 1030
    info_->setObjectName("sourceInfo");
    info_->setGeometry(duRect(170, 52, 268, 76));
    info_->setReadOnly(true);
    info_->setPlainText(QString(sourceInfo).replace("\r\n", "\n"));

    destinationLabel_ = addLabel(client(), "destinationLabel",
                                 "Destination Image :", duRect(12, 140, 80, 9));  // 1006
    destination_ = new QLineEdit(client());                                       // 1025
    destination_->setObjectName("destinationEdit");
    destination_->setGeometry(duRect(94, 138, 282, 12));
    destination_->setText(lastDestination);
    connect(destination_, &QLineEdit::textChanged, this,
            [](const QString& typed) { lastDestination = typed; });
    browse_ = new QPushButton("Browse", client());  // 1026
    browse_->setObjectName("browseButton");
    browse_->setGeometry(duRect(382, 137, 56, 14));
    browse_->setAutoDefault(false);
    multiFile_ = new QCheckBox(client());  // 1027
    multiFile_->setObjectName("multiFileCheck");
    multiFile_->setGeometry(duRect(94, 156, 10, 10));
    multiFileLabel_ =
        addLabel(client(), "multiFileLabel", "Multifile", duRect(106, 157, 60, 9));  // 1008
    rescue_ = new QCheckBox(client());
    rescue_->setObjectName("rescueCheck");
    rescue_->setGeometry(duRect(180, 156, 10, 10));
    rescueLabel_ =
        addLabel(client(), "rescueLabel", "Rescue mode (failing media)", duRect(192, 157, 180, 9));
    rescueNote_ = addLabel(client(), "rescueNote",
                           "Good areas first, bad ones last, no questions; Image0.map lets "
                           "it resume.",
                           duRect(94, 164, 344, 8));
    rescueNote_->setEnabled(false);

    group_ = ui::makeGroupFrame(client(), duRect(12, 172, 318, 80));  // 1016
    group_->setObjectName("progressGroup");
    sectorLabel_ = addLabel(client(), "currentSectorLabel",
                            "Current Sector  : ", duRect(22, 184, 62, 9));                 // 1007
    sectorValue_ = addLabel(client(), "currentSectorValue", {}, duRect(86, 184, 236, 9));  // 1012
    fileLabel_ =
        addLabel(client(), "lastFileLabel", "Last File Name : ", duRect(22, 202, 62, 9));  // 1010
    fileValue_ = addLabel(client(), "lastFileValue", {}, duRect(86, 202, 236, 18));        // 1017
    fileValue_->setWordWrap(true);
    progress_ = new QProgressBar(client());  // 1013
    progress_->setObjectName("progressBar");
    progress_->setGeometry(duRect(22, 228, 298, 12));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    rateValue_ = addLabel(client(), "rateValue", {}, duRect(22, 242, 298, 9));

    start_ = addNavButton(client(), "startButton", duRect(342, 196, 35, 33), "\\Start.bmp",
                          "\\StartA.bmp", "Start");  // 10
    stop_ = addNavButton(client(), "stopButton", duRect(390, 196, 35, 33), "\\Stop.bmp",
                         "\\StopA.bmp", "Stop");  // 9
    back_ = addNavButton(client(), "backButton", duRect(363, 284, 24, 22), "\\Back.bmp",
                         "\\BackA.bmp", "Back");  // 4
    nextPicture_ = new QLabel(client());          // 1028: this page has no Next
    nextPicture_->setObjectName("nextPicture");
    nextPicture_->setGeometry(duRect(399, 279, 35, 33));
    nextPicture_->setPixmap(ui::loadPicture("\\NextD.bmp"));

    connect(browse_, &QPushButton::clicked, this, [this] { browse(); });
    connect(start_, &ui::CButtonST::clicked, this, [this] { start(); });
    connect(stop_, &ui::CButtonST::clicked, this, [this] { stop(); });
    connect(back_, &ui::CButtonST::clicked, this, [this] { back(); });
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });

    showCopying(false);
}

CImageCreationDlg::~CImageCreationDlg() {
    setShownImagingJob(nullptr);
    if (!job_ || !job_->working()) return;
    job_->requestStop();
    job_->pauseGate.resume();
    // The worker may be asking a question on this thread: keep answering events.
    while (job_->working()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
}

void CImageCreationDlg::browse() {
    const QString folder = ui::chooseFolder(this, "Select Folder of Image File");
    if (folder.isEmpty()) return;
    if (!platform::directoryExists(folder.toStdString())) {
        prompter().showMessage(kPathNotFound, MessageIcon::Error);
        return;
    }
    destination_->setText(folder);
}

ImagingJob& CImageCreationDlg::chooseJob(const std::string& folder) {
    job_ = nullptr;  // it may be the rescue about to go
    rescueRun_.reset();
    if (!rescue_->isChecked()) {
        run_->setDestination(folder, multiFile_->isChecked());
        return *run_;
    }
    RescueSettings settings;
    settings.startSector = run_->startSector;
    settings.endSector = run_->endSector;
    settings.folder = folder;
    settings.multiFile = multiFile_->isChecked();
    settings.commandLine = "kestrum (image creation page, rescue mode)";
    rescueRun_ = std::make_unique<RescueRun>(settings);
    return *rescueRun_;
}

void CImageCreationDlg::start() {
    const std::string folder = destination_->text().toStdString();
    setShownImagingJob(nullptr);
    if (!destinationReady(folder)) return;
    ImagingJob& job = chooseJob(folder);
    // Missing folder, a source that cannot be read, a folder on the source, too
    // little free space, a map of another image: each has its own message.
    if (std::string refusal = job.checkStart(); !refusal.empty()) {
        prompter().showMessage(refusal, MessageIcon::Error);
        return;
    }
    // A rescue with its map goes on from the image there; other jobs replace it.
    if (job.replacesImage())
        if (const auto pieces = piecesToReplace(job.imageLayout());
            !pieces.empty() && !confirmReplace(this, pieces))
            return;
    if (!job.start()) {
        prompter().showMessage("Process is running.", MessageIcon::Exclamation);
        return;
    }
    job_ = &job;
    setShownImagingJob(job_);
    showProgress();
    timer_.start();
    showCopying(true);
    setInputsEnabled(false);
}

bool CImageCreationDlg::destinationReady(const std::string& folder) {
    // Nothing typed is for the start checks to refuse, with their message.
    if (folder.find_first_not_of(" \t") == std::string::npos || platform::directoryExists(folder))
        return true;
    if (platform::entryExists(folder)) {
        prompter().showMessage(
            "The destination " + folder + " is a file, not a folder. Please specify a folder.",
            MessageIcon::Error);
        return false;
    }
    if (!prompter().confirm("The folder " + folder + " does not exist yet.\nCreate it?"))
        return false;
    std::string error;
    if (!platform::createDirectories(folder, &error)) {
        prompter().showMessage("The folder " + folder + " cannot be created: " + error,
                               MessageIcon::Error);
        return false;
    }
    return true;
}

void CImageCreationDlg::showCopying(bool copying) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{group_, sectorLabel_, sectorValue_, fileLabel_, fileValue_,
                                         progress_, rateValue_, stop_})
        w->setVisible(copying);
    start_->setVisible(!copying);
}

void CImageCreationDlg::setInputsEnabled(bool enabled) {
    back_->setVisible(enabled);
    for (QWidget* w :
         std::initializer_list<QWidget*>{browse_, multiFile_, destination_, multiFileLabel_,
                                         destinationLabel_, rescue_, rescueLabel_})
        w->setEnabled(enabled);
}

void CImageCreationDlg::showProgress() {
    const auto lines = job_->statusLines();
    sectorLabel_->setText(QString::fromStdString(lines.at(0).label));
    sectorValue_->setText(QString::fromStdString(lines.at(0).value));
    fileLabel_->setText(QString::fromStdString(lines.at(1).label));
    fileValue_->setText(QString::fromStdString(lines.at(1).value));
    progress_->setValue(job_->progressPercent());
    rateValue_->setText(QString::fromStdString(job_->rateText()));
}

void CImageCreationDlg::tick() {
    // Asked before the figures are read: once the worker has ended, the last
    // figures shown are its final ones, not those of a chunk before its end.
    const bool running = imagingThread().running();
    showProgress();
    if (running) return;
    timer_.stop();
    // The page behind the message is already idle: progress hidden, Start shown.
    showCopying(false);
    prompter().showMessage(job_->finalMessage(), job_->finalIcon());
    setInputsEnabled(true);
    job_->appendActivityLog();
}

void CImageCreationDlg::stop() {
    if (!job_ || !imagingThread().running()) return;
    job_->stop([] { return prompter().confirm("Are you sure you want to stop this process?"); });
}

void CImageCreationDlg::back() {
    if (imagingThread().running() || timer_.isActive()) {
        prompter().showMessage("Process is running.", MessageIcon::Exclamation);
        return;
    }
    done(QDialog::Rejected);
}

void CImageCreationDlg::reject() {
    // Escape and the close box are easily given by mistake: they ask first when
    // a destination has been typed, Back does not.
    if (!imagingThread().running() && !timer_.isActive() &&
        !destination_->text().trimmed().isEmpty() &&
        !prompter().confirm("Are you sure you want to go back?"))
        return;
    back();
}

}  // namespace kestrum
