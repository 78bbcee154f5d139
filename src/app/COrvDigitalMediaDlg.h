// The main window: splash, the start-of-run heading in the activity log, and the
// two workflows as large picture buttons at the bottom of the page chain.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "ui/CBDialog.h"
#include "ui/PageCommands.h"

namespace kestrum {

namespace ui {
class CButtonST;
}

class COrvDigitalMediaDlg : public ui::CBDialog {
    Q_OBJECT
public:
    // Source page modes.
    static constexpr int kDiskImaging = 0;
    static constexpr int kMediaRecovery = 1;

    // Builds the source page for a mode; until one is installed the workflow
    // buttons open nothing.
    using SourcePageFactory = std::function<std::unique_ptr<QDialog>(int mode, QWidget* opener)>;
    static void setSourcePageFactory(SourcePageFactory factory);
    // The splash can be left out (tests); it is on by default.
    static void setSplashEnabled(bool enabled);

    explicit COrvDigitalMediaDlg(QWidget* parent = nullptr);

    // The window's opening: splash, pictures, heading. Runs once; exec() runs it
    // when it has not run yet.
    void initDialog();
    int exec() override;

    const ui::Menu129& menu129() const { return menu_; }

public slots:
    // Cancel, Escape and the close box all ask whether to exit.
    void reject() override;

private:
    void runSplash();
    void runSourcePage(int mode);

    ui::Menu129 menu_;
    ui::Toolbar toolbar_;
    ui::CButtonST* digitalMedia_;
    ui::CButtonST* imageCreation_;
    bool initialised_ = false;
};

}  // namespace kestrum
