// The replace question of a saving run: a destination file already exists.
// The box only answers; the saving engine keeps the "to all" decisions.
#pragma once

#include "app/Prompter.h"
#include "ui/CBDialog.h"

class QPushButton;

namespace kestrum {

namespace ui {
class CTransparentStatic;
}

class CReplaceDlg : public ui::CBDialog {
    Q_OBJECT
public:
    explicit CReplaceDlg(QWidget* parent = nullptr);

    // The found file's name alone (File12.JPEG); set before the box runs.
    void setFileName(const QString& fileName);

    // The code of the button that closed the box; Cancel for Escape.
    ReplaceAnswer answer() const { return answer_; }

public slots:
    void reject() override;

private:
    void addButton(const char* name, const QString& text, double x, ReplaceAnswer answer);
    ui::CTransparentStatic* fileText_;
    ReplaceAnswer answer_ = ReplaceAnswer::Cancel;
};

}  // namespace kestrum
