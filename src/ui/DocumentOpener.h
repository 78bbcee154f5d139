// Opens a local document (the help file, a log) with the desktop's opener and
// tells the user, with the file's path, when that fails: at once when the opener
// cannot start, later when it ends with an error (no viewer for the file).
#pragma once

#include <QString>

namespace kestrum::ui {

// what names the document in the message ("the help file"). False when the
// opener could not even be started (the user has been told).
bool openDocument(const QString& path, const QString& what);

}  // namespace kestrum::ui
