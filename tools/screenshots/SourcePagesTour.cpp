#include "SourcePagesTour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeWidget>

#include <memory>

#include "ScreenshotTour.h"
#include "app/Session.h"
#include "disk/CPartitionInfoDlg.h"
#include "disk/SizeText.h"
#include "imaging/CImageCreationDlg.h"
#include "platform/Folders.h"
#include "platform/SourceFile.h"
#include "ui/FolderChooser.h"

namespace kestrum::ui {
namespace {

constexpr qint64 kTickWaitMs = 1300;  // the page's progress has ticked at least once

template <typename T>
T* shown(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<T*>(w);
            window && window->isVisible() && w->objectName() == name)
            return window;
    return nullptr;
}

CPartitionInfoDlg* sourcePage() {
    return shown<CPartitionInfoDlg>("partitionInfoDlg");
}
CImageCreationDlg* imagingPage() {
    return shown<CImageCreationDlg>("imageCreationDlg");
}

void click(QWidget* window, const char* name) {
    if (!window) return;
    if (auto* button = window->findChild<QAbstractButton*>(name)) button->click();
}

bool filled() {
    return sourcePage() && sourcePage()->isTreeFilled();
}

// Enter on the source tree: the image nodes ask for their image.
void enter(QWidget* page) {
    auto* tree = page->findChild<QTreeWidget*>("sourceTree");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(tree, &press);
}

void select(QTreeWidgetItem* item) {
    if (item) item->treeWidget()->setCurrentItem(item);
}

QString demoFolder() {
    return QString::fromStdString(platform::joinPath(session().dataFolder.load(), "Demo"));
}

QString demoImage() {
    return QDir(demoFolder()).filePath("Image0.img");
}

QString imageFolder() {
    return QString::fromStdString(platform::joinPath(platform::privateTempFolder(), "tour-image"));
}

// The imaging page on the demo image read as a plain file, for a machine where
// no disk can be read (no loop device over the demo image).
void openImagingPageOnDemoFile(QWidget* over) {
    const auto file = platform::SourceFile::open(demoImage().toStdString());
    if (!file) return;
    Session& s = session();
    s.chooseSource(SourceSpec::device(demoImage().toStdString()));
    s.rangeStart.store(0);
    s.rangeEnd.store(file->size() / 512);
    const QString info = "Device : " + demoImage() +
                         "\r\nDisk Size  : " + QString::fromStdString(sizeText(file->size()));
    CImageCreationDlg page(info, "Selected Disk", demoImage(), over);
    page.exec();
}

}  // namespace

std::vector<std::pair<QString, std::function<void()>>> sourcePageSteps(ScreenshotTour& tour) {
    const auto always = [] { return true; };
    std::vector<std::pair<QString, std::function<void()>>> steps;

    steps.emplace_back("source-page-media-recovery", [&tour, always] {
        tour.play({
            {always, [&tour] { click(tour.mainWindow(), "digitalMediaButton"); }},
            {filled,
             [] {
                 CPartitionInfoDlg* page = sourcePage();
                 select(page->logicalDriveRoot()->child(0));
                 page->findChild<QCheckBox*>("rangeCheck")->setChecked(true);
             }},
            {always, [&tour] { tour.save(sourcePage(), "source-page-drive"); }},
            {always,
             [] {
                 if (!QFileInfo::exists(demoImage())) return;
                 setFolderChooser([](QWidget*, const QString&) { return demoFolder(); });
                 select(sourcePage()->imageRoot());
                 enter(sourcePage());  // asks once the key is handled
             }},
            {always,
             [&tour] {
                 setFolderChooser({});
                 tour.save(sourcePage(), "source-page-image");
             }},
            // The image file itself, as any image of any name is chosen.
            {always,
             [] {
                 if (!QFileInfo::exists(demoImage())) return;
                 setFileChooser([](QWidget*, const QString&) { return demoImage(); });
                 select(sourcePage()->imageFileRoot());
                 enter(sourcePage());
             }},
            {always,
             [&tour] {
                 setFileChooser({});
                 tour.save(sourcePage(), "source-page-image-file");
             }},
            {always, [] { click(sourcePage(), "backButton"); }},
        });
    });

    steps.emplace_back("image-creation", [&tour, always] {
        // A disk is read when one can be (screenshots.sh attaches the demo image to
        // a loop device where it may); else the demo file is the source.
        auto demoDisk = std::make_shared<bool>(false);
        auto questionSeen = std::make_shared<QElapsedTimer>();
        tour.play({
            {always, [&tour] { click(tour.mainWindow(), "imageCreationButton"); }},
            {filled,
             [demoDisk] {
                 CPartitionInfoDlg* page = sourcePage();
                 QTreeWidgetItem* disks = page->diskRoot();
                 for (int i = 0; i < disks->childCount() && !*demoDisk; ++i) {
                     select(disks->child(i));
                     *demoDisk = page->infoLines().join('\n').contains(demoImage());
                 }
                 if (!*demoDisk) select(disks->child(0));
             }},
            {always, [&tour] { tour.save(sourcePage(), "source-page-disk"); }},
            {always, [] { click(sourcePage(), "nextButton"); }},
            // Without the demo disk, Next tells why the disk cannot be read.
            {[] { return imagingPage() || shown<QMessageBox>("messageBox"); },
             [&tour] {
                 if (auto* box = shown<QMessageBox>("messageBox")) {
                     tour.save(sourcePage(), "source-page-cannot-open", box);
                     box->accept();
                 }
             }},
            {always,
             [demoDisk] {
                 if (*demoDisk) return;
                 click(sourcePage(), "backButton");
             }},
            {always,
             [demoDisk, &tour] {
                 if (!*demoDisk) openImagingPageOnDemoFile(tour.mainWindow());
             }},
            {imagingPage,
             [] {
                 QDir().mkpath(imageFolder());
                 imagingPage()->findChild<QLineEdit*>("destinationEdit")->setText(imageFolder());
             }},
            {always, [&tour] { tour.save(imagingPage(), "image-creation-page"); }},
            // Stop at once, so the question finds the copy under way.
            {always,
             [] {
                 CImageCreationDlg* page = imagingPage();
                 click(page, "startButton");
                 click(page, "stopButton");
             }},
            {[questionSeen] {
                 if (!shown<QMessageBox>("confirmBox")) return false;
                 if (!questionSeen->isValid()) questionSeen->start();
                 return questionSeen->elapsed() >= kTickWaitMs;
             },
             [&tour] {
                 auto* box = shown<QMessageBox>("confirmBox");
                 tour.save(imagingPage(), "image-creation-stop-question", box);
                 box->button(QMessageBox::Cancel)->click();  // the copy goes on
             }},
            {[] { return shown<QMessageBox>("messageBox") != nullptr; },
             [&tour] {
                 auto* box = shown<QMessageBox>("messageBox");
                 tour.save(imagingPage(), "image-creation-completed", box);
                 box->accept();
             }},
            {[] { return imagingPage() && !imagingPage()->isCopying(); },
             [] { click(imagingPage(), "backButton"); }},
            {always,
             [] {
                 click(sourcePage(), "backButton");
                 QDir(imageFolder()).removeRecursively();
             }},
        });
    });
    return steps;
}

}  // namespace kestrum::ui
