#include "ui/CMessageDlg.h"

#include <QCheckBox>
#include <QPushButton>

#include "app/Log.h"
#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum::ui {

CMessageDlg::CMessageDlg(QWidget* parent)
    : CBDialog(parent),
      text_(new CTransparentStatic({}, client())),
      viewLog_(new QCheckBox(client())),
      ok_(new QPushButton("&OK", client())) {
    setObjectName("messageDlg");
    // Caption and system menu, but no working close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowModality(Qt::ApplicationModal);
    setClientSize(duSize(226, 110));
    loadBackground("\\Msgbox.bmp");

    text_->setObjectName("messageText");  // 1035
    // Up to three lines above "View Log": a count of unsaved files must not be cut off.
    text_->setGeometry(duRect(36, 29, 149, 30));
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    viewLog_->setObjectName("viewLogCheck");  // 1036
    viewLog_->setGeometry(duRect(36, 60, 10, 10));
    auto* label = new CTransparentStatic("View Log", client());
    label->setObjectName("viewLogLabel");  // 1007
    label->setGeometry(duRect(48, 61, 60, 8));
    label->setBuddy(viewLog_);
    ok_->setObjectName("okButton");
    ok_->setGeometry(duRect(88, 84, 50, 14));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CMessageDlg::accept);
}

void CMessageDlg::showEvent(QShowEvent* event) {
    text_->setText(message_);
    CBDialog::showEvent(event);
}

void CMessageDlg::accept() {
    if (viewLog_->isChecked()) viewLog(LogKind::Recovery);
    CBDialog::accept();
}

}  // namespace kestrum::ui
