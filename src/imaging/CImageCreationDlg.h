// The image-creation page (dialog 105): the chosen source, a destination folder
// and Multifile, then the copy on the imaging worker with progress once a
// second and Stop; the outcome is told in a message box and the activity log.
#pragma once

#include <QTimer>

#include <memory>
#include <optional>

#include "ui/CBDialog.h"
#include "ui/PageCommands.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace kestrum {

class ImagingJob;
class ImagingRun;
class RescueRun;

namespace ui {
class CButtonST;
class CTransparentEditBox;
class CTransparentStatic;
}  // namespace ui

class CImageCreationDlg : public ui::CBDialog {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 1000;

    // The three texts of the source page: its information lines (joined with
    // "\r\n"), the tree's parent label ("Selected Disk") and the item ("Disk1").
    // The range is the session's as the page opens.
    CImageCreationDlg(const QString& sourceInfo, const QString& rootText, const QString& itemText,
                      QWidget* parent = nullptr);
    // A run still going is stopped and waited for: it writes into this page's run.
    ~CImageCreationDlg() override;

    // The plain copy, started when Rescue mode is off.
    const ImagingRun& run() const { return *run_; }
    // The rescue run of the last Start in rescue mode, or null.
    const RescueRun* rescueRun() const { return rescueRun_.get(); }
    bool isCopying() const { return timer_.isActive(); }

public slots:
    // Escape and the close box act as Back: never away from a running copy.
    void reject() override;

private:
    void browse();
    void start();
    void stop();
    void back();
    void tick();
    void showProgress();
    void showCopying(bool copying);
    void setInputsEnabled(bool enabled);
    // The job the boxes ask for: a rescue in Rescue mode, else the plain copy.
    ImagingJob& chooseJob(const std::string& folder);
    // A typed destination that does not exist yet is created when the user
    // agrees; false when there is no folder to write into.
    bool destinationReady(const std::string& folder);

    std::unique_ptr<ImagingRun> run_;
    std::unique_ptr<RescueRun> rescueRun_;
    ImagingJob* job_ = nullptr;  // the job of the last Start
    QTimer timer_;               // timer 1

    ui::Menu129 menu_;
    ui::Toolbar toolbar_;
    QTreeWidget* tree_;
    ui::CTransparentEditBox* info_;
    ui::CTransparentStatic* destinationLabel_;
    QLineEdit* destination_;
    QPushButton* browse_;
    QCheckBox* multiFile_;
    ui::CTransparentStatic* multiFileLabel_;
    QCheckBox* rescue_;
    ui::CTransparentStatic* rescueLabel_;
    ui::CTransparentStatic* rescueNote_;
    ui::CButtonST* start_;
    ui::CButtonST* stop_;
    ui::CButtonST* back_;
    QFrame* group_;
    ui::CTransparentStatic* sectorLabel_;
    ui::CTransparentStatic* sectorValue_;
    ui::CTransparentStatic* fileLabel_;
    ui::CTransparentStatic* fileValue_;
    QProgressBar* progress_;
    ui::CTransparentStatic* rateValue_;  // percentage, speed and time left
    QLabel* nextPicture_;
};

}  // namespace kestrum
