// The wait box: "Please Wait..." on the preview picture while the results list
// fills or a preview is copied. It closes itself at the first 700 ms tick that
// finds neither worker running, so it shows for at least one tick.
#pragma once

#include <QTimer>

#include "ui/CBDialog.h"

namespace kestrum::ui {

class CWaitDlg : public CBDialog {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 700;

    explicit CWaitDlg(QWidget* parent = nullptr);
    int ticks() const { return ticks_; }

public slots:
    // Only the tick closes the box; Escape does not abandon a running worker.
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tick();
    QTimer timer_;
    int ticks_ = 0;
};

}  // namespace kestrum::ui
