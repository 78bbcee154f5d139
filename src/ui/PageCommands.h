// What every page shares: menu 129, the Help, About Us and Exit buttons of the
// toolbar, F1, the exit confirmation, the help file, and the chaining rule by
// which a page runs the next one.
#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <string>

class QAction;
class QDialog;
class QLabel;
class QMenuBar;
class QWidget;

namespace kestrum::ui {

class CBDialog;
class CButtonST;

// Command ids of menu 129 (kept as each action's data).
enum MenuCommand {
    kExitCommand = 32771,
    kActivityLogCommand = 32772,
    kRecoveryLogCommand = 32773,
    kClearRecoveryLogCommand = 32775,
    kHelpCommand = 32777,
    kAboutUsCommand = 32778,
    kClearActivityLogCommand = 32779,
    kRecoverSelectedCommand = 32780,
};

struct Menu129 {
    QMenuBar* bar = nullptr;
    QAction* recoverSelected = nullptr;
    QAction* exit = nullptr;
    QAction* activityLog = nullptr;
    QAction* recoveryLog = nullptr;
    QAction* clearActivityLog = nullptr;
    QAction* clearRecoveryLog = nullptr;
    QAction* help = nullptr;
    QAction* aboutUs = nullptr;
};

// The frame every page shares: its name for tests, the window decorations and a
// client area of 450 x 315 dialog units.
void setUpPageFrame(CBDialog* page, const char* objectName);

// Puts the menu on the page with the shared commands wired; "&Recover
// Selected" starts greyed and is the page's own to enable and handle.
Menu129 installMenu129(CBDialog* page);

struct Toolbar {
    QLabel* picture = nullptr;     // 1000, the disabled Save picture
    CButtonST* help = nullptr;     // 6
    CButtonST* aboutUs = nullptr;  // 5
    CButtonST* exit = nullptr;     // 7
};

// The toolbar of a page: pictures, tooltips and the shared commands; F1 opens
// the help. Call after the page's client size is set.
Toolbar installToolbar(CBDialog* page);

// How many found files would be lost by leaving now (found, not saved); the
// results page installs it while it holds a finished scan. Empty: none.
using UnsavedFilesCounter = std::function<size_t()>;
void setUnsavedFilesCounter(UnsavedFilesCounter counter);
size_t unsavedFiles();
// "12 files found and not saved will be lost."
std::string unsavedFilesWarning(size_t count);

// "Are you sure you want to exit?", after the unsaved-files warning when found
// files would be lost; OK removes the temporary preview files and
// ends the process with code 0. Returns only when the user chose Cancel (or
// when a test has replaced the process end).
void confirmExit();

// Opens the help file, trying in turn its bare name (searched in the current
// folder and on PATH), the installation folder, and the desktop's help viewer.
void openHelp();
inline constexpr const char* kHelpFileName = "Kestrum HELP.html";

// The About box, modal over the owner.
void showAbout(QWidget* owner);

// The chaining rule: hide the opener, run the page modally, then give the
// opener its title again and show it. Returns the page's result.
int runPage(QWidget* opener, QDialog& page);

}  // namespace kestrum::ui
