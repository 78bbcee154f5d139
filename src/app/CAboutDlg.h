// The About box (dialog 100): the About picture under transparent labels, the
// title and version, the registered owner of the machine and three links.
#pragma once

#include "ui/CBDialog.h"

class QPlainTextEdit;

namespace kestrum {

class CAboutDlg : public ui::CBDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The owner as the install step registered it; empty when it cannot be read.
    static std::string registeredOwner();
};

}  // namespace kestrum
