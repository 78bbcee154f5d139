// The wait box: "Please Wait..." on the preview picture while the results list
// fills or a preview is copied. It closes itself at the first 700 ms tick that
// finds neither worker running, so it shows for at least one tick.
#pragma once

#include <QTimer>

#include <functional>

#include "ui/CBDialog.h"

namespace kestrum::ui {

class CWaitDlg : public CBDialog {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 700;

    explicit CWaitDlg(QWidget* parent = nullptr);
    int ticks() const { return ticks_; }

    // Shows the box until its tick closes it, as exec() does, without taking the
    // keyboard from the page. Input meant for the rest of the application is
    // offered to take(receiver, event) first: what it takes goes on to its
    // receiver, the rest is dropped as a modal box drops it, never queued.
    using InputTaker = std::function<bool(QObject* receiver, QEvent* event)>;
    void waitTakingInput(const InputTaker& take);

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
