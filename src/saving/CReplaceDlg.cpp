#include "saving/CReplaceDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

CReplaceDlg::CReplaceDlg(QWidget* parent)
    : ui::CBDialog(parent), fileText_(new ui::CTransparentStatic({}, client())) {
    setObjectName("replaceDlg");
    // No Close in the system menu: the box is answered with its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setClientSize(ui::duSize(250, 82));
    loadBackground("\\Msgbox.bmp");

    auto* icon = new QLabel(client());
    icon->setObjectName("questionIcon");  // 1022
    icon->setGeometry(duRect(10, 14, 22, 22));
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));

    fileText_->setObjectName("fileText");  // 1017
    fileText_->setGeometry(duRect(40, 14, 202, 10));
    auto* question =
        new ui::CTransparentStatic("Would you like to replace the existing file ?", client());
    question->setObjectName("questionText");  // 1006
    question->setGeometry(duRect(40, 28, 202, 10));

    addButton("yesButton", "&Yes", 7, ReplaceAnswer::Yes);
    addButton("yesToAllButton", "Y&es to All", 67, ReplaceAnswer::YesToAll);
    addButton("noButton", "&No", 127, ReplaceAnswer::No);
    addButton("noToAllButton", "N&o to ALL", 187, ReplaceAnswer::NoToAll);
}

void CReplaceDlg::setFileName(const QString& fileName) {
    fileText_->setText(QString("\"%1\" this file is already exist.").arg(fileName));
}

void CReplaceDlg::addButton(const char* name, const QString& text, double x, ReplaceAnswer answer) {
    auto* button = new QPushButton(text, client());
    button->setObjectName(name);
    button->setGeometry(duRect(x, 56, 56, 14));
    button->setAutoDefault(false);
    // Enter keeps the existing file: replacing it cannot be undone.
    if (answer == ReplaceAnswer::No) {
        button->setDefault(true);
        button->setFocus();
    }
    connect(button, &QPushButton::clicked, this, [this, answer] {
        answer_ = answer;
        done(static_cast<int>(answer));
    });
}

void CReplaceDlg::reject() {
    answer_ = ReplaceAnswer::Cancel;
    done(static_cast<int>(ReplaceAnswer::Cancel));
}

}  // namespace kestrum
