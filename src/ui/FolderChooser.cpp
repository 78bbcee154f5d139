#include "ui/FolderChooser.h"

#include <QFileDialog>

namespace kestrum::ui {
namespace {
FolderChooser replacement;
FolderChooser fileReplacement;
}  // namespace

QString chooseFolder(QWidget* owner, const QString& title) {
    if (replacement) return replacement(owner, title);
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

void setFolderChooser(FolderChooser chooser) {
    replacement = std::move(chooser);
}

QString chooseFile(QWidget* owner, const QString& title) {
    if (fileReplacement) return fileReplacement(owner, title);
    // Images keep whatever name the tool that made them gave: all files stay one
    // choice away.
    return QFileDialog::getOpenFileName(
        owner, title, QString(),
        "Disk images (*.img *.IMG *.dd *.DD *.raw *.RAW *.iso *.ISO *.bin *.BIN);;All files (*)");
}

void setFileChooser(FolderChooser chooser) {
    fileReplacement = std::move(chooser);
}

}  // namespace kestrum::ui
