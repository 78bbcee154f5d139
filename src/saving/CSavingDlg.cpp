#include "saving/CSavingDlg.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <chrono>
#include <thread>

#include "app/Prompter.h"
#include "app/Session.h"
#include "disk/SourceBinding.h"
#include "ui/CMessageDlg.h"
#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {

FolderChooser folderChooser;

QString chooseFolder(QWidget* owner, const QString& title) {
    if (folderChooser) return folderChooser(owner, title);
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

ui::CTransparentStatic* addText(QWidget* parent, const char* name, const QString& text,
                                const QRect& at) {
    auto* label = new ui::CTransparentStatic(text, parent);
    label->setObjectName(name);
    label->setGeometry(at);
    return label;
}

}  // namespace

void setFolderChooser(FolderChooser chooser) {
    folderChooser = std::move(chooser);
}

void SaveSelected(QWidget* owner) {
    Session& s = session();
    if (s.scanThread.running()) {
        prompter().showMessage("Process is running.", MessageIcon::Exclamation);
        return;
    }
    if (s.foundFiles.empty()) {
        prompter().showMessage("No file found.", MessageIcon::Exclamation);
        return;
    }
    if (std::string problem = boundSourceProblem(); !problem.empty()) {
        prompter().showMessage(problem, MessageIcon::Error);
        return;
    }
    const QString folder = chooseFolder(owner, "Select Folder of Image File");
    if (folder.isEmpty()) return;
    const std::string refusal = checkSavingDestination(folder.toStdString());
    if (!refusal.empty()) {
        prompter().showMessage(refusal, MessageIcon::Error);
        return;
    }
    CSavingDlg saving(folder, owner);
    saving.exec();
}

CSavingDlg::CSavingDlg(const QString& destinationPath, QWidget* parent)
    : ui::CBDialog(parent), run_(std::make_unique<SavingRun>(destinationPath.toStdString())) {
    setObjectName("savingDlg");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setClientSize(ui::duSize(260, 112));
    loadBackground("\\Msgbox.bmp");
    QWidget* area = client();

    addText(area, "pathLabel", "Path :", duRect(10, 10, 60, 9));
    auto* path = addText(area, "pathText", destinationPath, duRect(72, 10, 180, 9));  // 1011
    path->setToolTip(destinationPath);
    addText(area, "folderLabel", "Folder Name :", duRect(10, 23, 60, 9));
    folderText_ = addText(area, "folderText", {}, duRect(72, 23, 180, 9));
    addText(area, "fileLabel", "File Name:", duRect(10, 36, 60, 9));
    fileText_ = addText(area, "fileText", {}, duRect(72, 36, 180, 9));
    addText(area, "countLabel", "Number of File :", duRect(10, 49, 60, 9));
    countText_ = addText(area, "countText", {}, duRect(72, 49, 180, 9));
    statusText_ =
        addText(area, "statusText", "Saving is in progress...     ", duRect(10, 66, 240, 9));
    progress_ = new QProgressBar(area);
    progress_->setObjectName("progressBar");
    progress_->setGeometry(duRect(10, 80, 184, 10));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    stopButton_ = new QPushButton("&Stop", area);
    stopButton_->setObjectName("stopButton");
    stopButton_->setGeometry(duRect(200, 78, 50, 14));
    connect(stopButton_, &QPushButton::clicked, this, &CSavingDlg::stop);

    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &CSavingDlg::tick);
}

CSavingDlg::~CSavingDlg() {
    timer_.stop();
    // The worker reads the run; a dialog torn down early waits for it, serving
    // the replace questions it may still ask.
    while (saveThread().running()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void CSavingDlg::start() {
    if (started_) return;
    started_ = true;
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    setWindowIcon(ui::appIcon());
    timer_.start();
    // Clears the counters and the stop request, notes the start time and writes
    // the recovery log's header before the worker can write its report.
    run_->start();
}

int CSavingDlg::exec() {
    start();
    const int result = ui::CBDialog::exec();
    // The dialog is gone from the screen before the closing message shows.
    if (run_->outcome() == SavingOutcome::NothingSelected) {
        prompter().showMessage(run_->finalMessage(), MessageIcon::Exclamation);
    } else {
        ui::CMessageDlg box(parentWidget());
        box.setMessage(QString::fromStdString(run_->finalMessage()));
        box.exec();
    }
    return result;
}

void CSavingDlg::tick() {
    folderText_->setText(QString::fromStdString(run_->currentFolderName.load()));
    fileText_->setText(QString::fromStdString(run_->currentFileName.load()));
    countText_->setText(QString::fromStdString(run_->countText()));
    progress_->setValue(run_->progressPercent());
    if (saveThread().running()) return;
    timer_.stop();
    done(QDialog::Accepted);
}

void CSavingDlg::stop() {
    const bool yes = run_->stop([this] {
        QMessageBox box(QMessageBox::Question,
                        QString::fromStdString(session().messageCaption.load()),
                        "Are you sure you want to stop this process?",
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName("stopQuestion");
        box.setWindowModality(Qt::ApplicationModal);
        return box.exec() == QMessageBox::Yes;
    });
    if (!yes) return;
    statusText_->setText("Saving Aborted.");
    progress_->hide();
    stopButton_->setEnabled(false);
}

}  // namespace kestrum
