#include "ui/FolderChooser.h"

#include <QFileDialog>

namespace kestrum::ui {
namespace {
FolderChooser replacement;
}  // namespace

QString chooseFolder(QWidget* owner, const QString& title) {
    if (replacement) return replacement(owner, title);
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

void setFolderChooser(FolderChooser chooser) {
    replacement = std::move(chooser);
}

}  // namespace kestrum::ui
