// The bitmap message box: one message on the message-box picture, OK, and a
// "View Log" box that opens the recovery log when the box is closed with OK.
#pragma once

#include "ui/CBDialog.h"

class QCheckBox;
class QPushButton;

namespace kestrum::ui {

class CTransparentStatic;

class CMessageDlg : public CBDialog {
    Q_OBJECT
public:
    explicit CMessageDlg(QWidget* parent = nullptr);

    // Set before the box runs; shown when it opens.
    void setMessage(const QString& message) { message_ = message; }
    const QString& message() const { return message_; }

    QCheckBox* viewLogBox() const { return viewLog_; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString message_;
    CTransparentStatic* text_;
    QCheckBox* viewLog_;
    QPushButton* ok_;
};

}  // namespace kestrum::ui
