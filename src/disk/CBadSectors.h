// The bad-sector question: Retry, Skip, Retry All or Skip All. The answer goes
// into the session's badSectorAnswer, where the sector reader looks for it.
#pragma once

#include "app/Prompter.h"
#include "ui/CBDialog.h"

class QPushButton;

namespace kestrum {

class CBadSectors : public ui::CBDialog {
    Q_OBJECT
public:
    explicit CBadSectors(QWidget* parent = nullptr);

    // The answer recorded by the button that closed the box.
    BadSectorAnswer answer() const { return answer_; }

public slots:
    // Escape and the close box answer Skip, as the Skip button carries the
    // dialog's cancel id.
    void reject() override { answerWith(BadSectorAnswer::Skip); }

private:
    void answerWith(BadSectorAnswer answer);
    QPushButton* addButton(const char* name, const QString& text, double x, BadSectorAnswer answer);
    BadSectorAnswer answer_ = BadSectorAnswer::Skip;
};

}  // namespace kestrum
