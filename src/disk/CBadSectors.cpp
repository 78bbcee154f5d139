#include "disk/CBadSectors.h"

#include <QPushButton>

#include "app/Session.h"
#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

CBadSectors::CBadSectors(QWidget* parent) : ui::CBDialog(parent) {
    setObjectName("badSectorsDlg");
    setClientSize(ui::duSize(266, 82));
    loadBackground("\\Msgbox.bmp");

    // The spaces around the text are part of it: they centre it on two lines.
    auto* text = new ui::CTransparentStatic(
        QString(20, ' ') + "Encountered Bad Sector(s) while reading disk." + QString(67, ' '),
        client());
    text->setObjectName("badSectorText");  // 1006
    text->setGeometry(duRect(7, 16, 252, 26));
    text->setWordWrap(true);

    QPushButton* retry = addButton("retryButton", "&Retry", 7, BadSectorAnswer::Retry);
    addButton("skipButton", "&Skip", 73, BadSectorAnswer::Skip);
    addButton("retryAllButton", "R&etry All", 139, BadSectorAnswer::RetryAll);
    addButton("skipAllButton", "Skip &All", 205, BadSectorAnswer::SkipAll);
    // Enter answers Retry: it carries the dialog's OK id.
    retry->setDefault(true);
    retry->setFocus();
}

QPushButton* CBadSectors::addButton(const char* name, const QString& text, double x,
                                    BadSectorAnswer answer) {
    auto* button = new QPushButton(text, client());
    button->setObjectName(name);
    button->setGeometry(duRect(x, 58, 50, 14));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, answer] { answerWith(answer); });
    return button;
}

void CBadSectors::answerWith(BadSectorAnswer answer) {
    answer_ = answer;
    session().badSectorAnswer.store(answer);
    done(QDialog::Accepted);
}

}  // namespace kestrum
