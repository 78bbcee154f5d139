// The folder browser of the pages ("Select Folder of Image File"): Qt's
// directory chooser, showing folders only. Replaceable, so tests and the
// screenshot tour can answer it without a file dialog.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kestrum::ui {

using FolderChooser = std::function<QString(QWidget* owner, const QString& title)>;

// The chosen folder, or empty when the user cancelled.
QString chooseFolder(QWidget* owner, const QString& title);
// An empty function restores the real chooser.
void setFolderChooser(FolderChooser chooser);

// The file browser of the source page: any one existing file, disk images
// offered first. Same signature and replacement rule as the folder browser.
QString chooseFile(QWidget* owner, const QString& title);
void setFileChooser(FolderChooser chooser);

}  // namespace kestrum::ui
