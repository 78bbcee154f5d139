// The saving dialog (dialog 133) and the results page's save command: the
// engine's saving worker copies the ticked files while the dialog shows its
// progress every 300 ms, offers Stop, and closes with the outcome's message.
#pragma once

#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "saving/SavingRun.h"
#include "ui/CBDialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrum {

// The results page's save command: refuses while the scan runs or when nothing
// was found, asks for a folder, refuses one that does not exist or lies on the
// source, then runs the saving dialog.
void SaveSelected(QWidget* owner);

// The folder browser SaveSelected shows; an empty text means cancelled. Tests
// put their own in; an empty function restores the desktop's.
using FolderChooser = std::function<QString(QWidget* owner, const QString& title)>;
void setFolderChooser(FolderChooser chooser);

class CSavingDlg : public ui::CBDialog {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 300;

    explicit CSavingDlg(const QString& destinationPath, QWidget* parent = nullptr);
    ~CSavingDlg() override;

    const SavingRun& run() const { return *run_; }
    int exec() override;

public slots:
    // Stop: holds the worker and asks; on Yes the worker ends after its file.
    void stop();
    // No close box and no Escape: the run ends by itself or through Stop.
    void reject() override {}

private:
    void start();
    void tick();

    std::unique_ptr<SavingRun> run_;
    QTimer timer_;
    bool started_ = false;
    QLabel* folderText_;       // 1012
    QLabel* fileText_;         // 1014
    QLabel* countText_;        // 1015
    QLabel* statusText_;       // 1006
    QProgressBar* progress_;   // 1013
    QPushButton* stopButton_;  // 9
};

}  // namespace kestrum
