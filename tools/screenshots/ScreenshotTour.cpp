#include "ScreenshotTour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QTreeWidget>

#include "SourcePagesTour.h"
#include "app/Prompter.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "filetypes/CExtensionInfoDlg.h"
#include "filetypes/Catalogue.h"
#include "platform/Folders.h"
#include "preview/CMediaPlayer.h"
#include "preview/CPictureCtrl.h"
#include "preview/PreviewCopy.h"
#include "scan/CFileDisplayDlg.h"
#include "scan/ResultsText.h"
#include "ui/CButtonST.h"
#include "ui/CFolderTreeCtrl.h"
#include "ui/CMessageDlg.h"
#include "ui/CWaitDlg.h"

namespace kestrum::ui {
namespace {
constexpr int kSettleMs = 500;    // a window is saved once it has painted
constexpr int kSplashMs = 1000;   // mid-way through the splash's hold
constexpr int kTooltipMs = 1500;  // tooltips appear after a rest of the mouse
constexpr int kPollMs = 100;      // how often a scripted step looks whether it may go on
constexpr int kDriveMs = 100;     // how often the results page is looked at

// The types ticked for the recovery pages: audio, video and pictures.
const char* const kTourTypes[] = {"WAV", "MP3", "MIDI", "AVI", "MPEG", "VOB",
                                  "DV",  "BMP", "JPEG", "PNG", "GIF",  "TIFF"};

// The demo image's range starts so that its first batch of 1000 sectors ends just
// past the first JPEG of our own media: the batch then holds video and audio too,
// and that JPEG, found first, is the live thumbnail. The place comes from the demo's
// manifest, as the image is laid out differently with and without the samples.
constexpr const char* kThumbnailJpeg = "jpeg-dqt.jpg";
constexpr uint64_t kFirstBatchSectors = 1000;
constexpr uint64_t kPastTheJpeg = 36;
constexpr qint64 kWaitMs = 15000;  // a state of the results page that does not come is skipped

uint64_t tourRangeStart(const std::string& demoFolder) {
    std::ifstream manifest(platform::joinPath(demoFolder, "Manifest.txt"));
    std::string name;
    uint64_t start = 0;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        if (fields >> name >> start && name == kThumbnailJpeg)
            return start + kPastTheJpeg > kFirstBatchSectors
                       ? start + kPastTheJpeg - kFirstBatchSectors
                       : 0;
    }
    std::printf("%s is not in the demo's manifest: the scan starts at sector 0\n", kThumbnailJpeg);
    return 0;
}

QTreeWidgetItem* typeNode(CFileDisplayDlg* page, const char* type) {
    QTreeWidgetItem* root = page->rootItem();
    for (int i = 0; root && i < root->childCount(); ++i)
        if (labelNamesType(root->child(i)->text(0).toStdString(), type)) return root->child(i);
    return nullptr;
}

bool workersIdle() {
    if (previewThread().running() || listFillThread().running()) return false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<CWaitDlg*>(w)) return false;
    return true;
}
}  // namespace

ScreenshotTour::ScreenshotTour(const QString& folder) : folder_(folder) {
    QDir().mkpath(folder_);
    qApp->installEventFilter(this);

    auto click = [this](const char* name) {
        if (auto* button = mainWindow()->findChild<QAbstractButton*>(name)) button->click();
    };
    auto trigger = [this](const char* name) {
        if (auto* action = mainWindow()->findChild<QAction*>(name)) action->trigger();
    };
    steps_ = {
        // The large button under the mouse: its hover picture and tooltip.
        {"main-window-hover",
         [this] {
             QWidget* button = mainWindow()->findChild<QWidget*>("digitalMediaButton");
             QCursor::setPos(button->mapToGlobal(button->rect().center()));
             QTimer::singleShot(kTooltipMs, this, [this] {
                 QWidget* tip = nullptr;
                 for (QWidget* w : QApplication::topLevelWidgets())
                     if (w->isVisible() && w->inherits("QTipLabel")) tip = w;
                 save(mainWindow(), stepName_, tip);
                 QCursor::setPos(0, 0);
                 QTimer::singleShot(kSettleMs, this, [this] { nextStep(); });
             });
         }},
        {"log-menu",
         [this] {
             auto* bar = mainWindow()->findChild<QMenuBar*>("menu129");
             auto* log = mainWindow()->findChild<QMenu*>("logMenu");
             bar->setActiveAction(log->menuAction());
         }},
        {"about-box", [click] { click("aboutUsButton"); }},
        {"exit-confirmation", [click] { click("exitButton"); }},
        {"clear-activity-log-confirmation", [trigger] { trigger("clearActivityLogAction"); }},
        {"bad-sector-prompt", [this] { askers_.emplace_back([] { prompter().askBadSector(); }); }},
        {"replace-prompt",
         [this] { askers_.emplace_back([] { prompter().askReplace("File12.JPEG"); }); }},
        {"message-box",
         [this] {
             CMessageDlg box(mainWindow());
             box.setMessage("File Saving Completed with Errors. 3 file(s) could not be saved.");
             box.exec();
         }},
        {"wait-box",
         [this] {
             listFillThread().start([] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
             CWaitDlg wait(mainWindow());
             wait.exec();
         }},
    };
    // The source page in both workflows, then the recovery pages, which set up
    // the session for the demo image themselves.
    for (auto& step : sourcePageSteps(*this)) steps_.push_back(std::move(step));
    steps_.emplace_back("file-type-page", [this] { fileTypePage(); });
    steps_.emplace_back("results", [this] { recoveryPages(); });
}

ScreenshotTour::~ScreenshotTour() {
    for (std::thread& t : askers_)
        if (t.joinable()) t.join();
}

QWidget* ScreenshotTour::mainWindow() const {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "mainWindow") return w;
    return nullptr;
}

bool ScreenshotTour::eventFilter(QObject* watched, QEvent* event) {
    if (scripted_ || quiet_ || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow()) return false;
    if (event->type() == QEvent::Show) {
        windowShown(widget);
    } else if (event->type() == QEvent::Hide && started_ && widget != mainWindow() &&
               (qobject_cast<QDialog*>(widget) || qobject_cast<QMenu*>(widget))) {
        QTimer::singleShot(kSettleMs, this, [this] { nextStep(); });
    }
    return false;
}

void ScreenshotTour::windowShown(QWidget* window) {
    const QPointer<QWidget> shown(window);
    if (window->objectName() == "splash") {
        QTimer::singleShot(kSplashMs, this, [this, shown] {
            if (shown) save(shown, "splash");
        });
        return;
    }
    if (window->objectName() == "mainWindow") {
        if (started_) return;
        started_ = true;
        QTimer::singleShot(kSettleMs, this, [this, shown] {
            if (!shown) return;
            save(shown, "main-window");
            nextStep();
        });
        return;
    }
    auto* menu = qobject_cast<QMenu*>(window);
    auto* dialog = qobject_cast<QDialog*>(window);
    if (!menu && !dialog) return;
    QTimer::singleShot(kSettleMs, this, [this, shown, menu, dialog] {
        if (!shown) return;
        if (menu) {
            save(mainWindow(), stepName_, menu);
            menu->hide();
        } else {
            save(dialog, stepName_.isEmpty() ? dialog->objectName() : stepName_);
            dialog->reject();  // Cancel or Escape: nothing changes
        }
    });
}

void ScreenshotTour::play(std::vector<Act> acts) {
    scripted_ = true;
    auto script = std::make_shared<std::vector<Act>>(std::move(acts));
    auto next = std::make_shared<size_t>(0);
    auto waiting = std::make_shared<QElapsedTimer>();
    waiting->start();
    auto* poll = new QTimer(this);
    poll->setInterval(kPollMs);
    connect(poll, &QTimer::timeout, this, [this, script, next, poll, waiting] {
        if (*next >= script->size()) {
            poll->stop();
            poll->deleteLater();
            scripted_ = false;
            QTimer::singleShot(kSettleMs, this, [this] { nextStep(); });
            return;
        }
        if (!(*script)[*next].ready()) {
            if (waiting->elapsed() < kWaitMs) return;
            // Never a hang: what does not come is left out, and the tour says so.
            std::printf("%s: move %zu of %zu skipped, what it waits for did not come in %lld s\n",
                        qPrintable(stepName_), *next + 1, script->size(),
                        static_cast<long long>(kWaitMs / 1000));
            std::fflush(stdout);
            ++*next;
            waiting->start();
            return;
        }
        waiting->start();
        const size_t act = (*next)++;
        poll->stop();
        QTimer::singleShot(kSettleMs, this, [script, act, poll] {
            // Polling goes on first: the act may block in a modal window.
            poll->start();
            (*script)[act].run();
        });
    });
    poll->start();
}

void ScreenshotTour::fileTypePage() {
    // The general rule saves the page and leaves it with Back; the rows are
    // ticked before that.
    QTimer::singleShot(kSettleMs / 2, this, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* page = qobject_cast<CExtensionInfoDlg*>(w);
            if (!page || !page->isVisible()) continue;
            const auto rows = catalogueRows();
            for (int r = 0; r < static_cast<int>(rows.size()); ++r)
                for (const char* type : kTourTypes)
                    if (rows[static_cast<size_t>(r)].type == type) page->setRowChecked(r, true);
        }
    });
    runFileTypePage(mainWindow());
}

void ScreenshotTour::recoveryPages() {
    Session& s = session();
    const std::string demo = platform::joinPath(s.dataFolder.load(), "Demo");
    const std::string image = platform::joinPath(demo, kSingleImageName);
    if (!platform::fileExists(image)) {
        std::printf("no demo image at %s: the recovery pages are left out\n", image.c_str());
        QTimer::singleShot(0, this, [this] { nextStep(); });
        return;
    }
    quiet_ = true;
    s.chooseSource(SourceSpec::imageFolder(demo, false));
    s.rangeStart.store(tourRangeStart(demo));
    s.rangeEnd.store(std::filesystem::file_size(image) / kSectorSize);
    closeDeviceHandle();
    // The scan is held after its first batch until the scanning page is saved.
    CExtensionInfoDlg::setResultsPageFactory([](QWidget* opener) -> std::unique_ptr<QDialog> {
        auto page = std::make_unique<CFileDisplayDlg>(opener);
        page->pauseGate.pause();
        return page;
    });

    CExtensionInfoDlg types(mainWindow());
    const auto rows = catalogueRows();
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (const char* type : kTourTypes)
            if (rows[static_cast<size_t>(r)].type == type) types.setRowChecked(r, true);
    resultsState_ = 0;
    stateSince_.start();
    QTimer drive;
    drive.setInterval(kDriveMs);
    connect(&drive, &QTimer::timeout, this, [this] { driveResultsPage(); });
    drive.start();
    QTimer::singleShot(kSettleMs, &types,
                       [&types] { types.findChild<CButtonST*>("nextButton")->click(); });
    mainWindow()->hide();
    types.exec();
    drive.stop();
    CExtensionInfoDlg::setResultsPageFactory({});
    mainWindow()->show();
    quiet_ = false;
    QTimer::singleShot(kSettleMs, this, [this] { nextStep(); });
}

void ScreenshotTour::driveResultsPage() {
    if (driving_) return;
    if (resultsState_ == 6) {
        // Back on the results page brought the file-type page back: leave it too.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* types = qobject_cast<CExtensionInfoDlg*>(w); types && types->isVisible())
                types->reject();
        return;
    }
    CFileDisplayDlg* page = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<CFileDisplayDlg*>(w); p && p->isVisible()) page = p;
    if (!page) return;
    driving_ = true;
    Session& s = session();
    const int before = resultsState_;
    const bool waitedLong = stateSince_.elapsed() > kWaitMs;
    switch (resultsState_) {
        case 0: {
            // Scanning, held after the first batch: the thumbnail, the progress
            // texts and the first type nodes show.
            const bool thumbnail = page->picture()->isLoaded() &&
                                   page->previewPath().find("Tavtemp.JPEG") != std::string::npos;
            const bool texts =
                !page->findChild<QWidget*>("sectorText")->property("text").toString().isEmpty() &&
                page->rootItem()->childCount() > 0;
            if (s.scanThread.running() && texts && (thumbnail || waitedLong)) {
                if (!thumbnail)
                    std::printf(
                        "results-scanning: no live JPEG thumbnail came in %lld s; "
                        "saved without it\n",
                        static_cast<long long>(kWaitMs / 1000));
                save(page, "results-scanning");
                page->pauseGate.resume();
                resultsState_ = 1;
            } else if (waitedLong && !s.scanThread.running()) {
                std::printf("results-scanning: skipped, the scan ended before it could be seen\n");
                resultsState_ = 1;
            }
            break;
        }
        case 1:
            if (page->isBrowsing() && workersIdle()) {
                if (QTreeWidgetItem* jpeg = typeNode(page, "JPEG"))
                    page->tree()->setCurrentItem(jpeg);  // lists the type, previews its first
                else
                    std::printf("results-browsing: no JPEG found; the page shows no picture\n");
                resultsState_ = 2;
            }
            break;
        case 2:
            if (workersIdle()) {
                save(page, "results-browsing");
                if (QTreeWidgetItem* avi = typeNode(page, "AVI")) {
                    page->tree()->setCurrentItem(avi);
                    resultsState_ = 3;
                } else {
                    std::printf("results-video: skipped, no AVI file was found\n");
                    resultsState_ = 5;
                }
            }
            break;
        case 3:
            // The video plays for a moment before it is shown.
            if (workersIdle() && page->player()->playRequests() > 0) {
                resultsState_ = 4;
                QTimer::singleShot(600, this, [this, page] {
                    save(page, "results-video");
                    page->player()->stop();
                    resultsState_ = 5;
                });
            } else if (waitedLong) {
                std::printf("results-video: skipped, the video did not start in %lld s\n",
                            static_cast<long long>(kWaitMs / 1000));
                resultsState_ = 5;
            }
            break;
        case 5:
            // Enlarged, the list and the preview take the room.
            if (const QScreen* screen = page->screen()) {
                const QRect room = screen->availableGeometry();
                page->move(room.topLeft());
                page->resize(std::min(page->width() + 420, room.width() - 20),
                             std::min(page->height() + 180, room.height() - 40));
            }
            resultsState_ = 7;
            break;
        case 7:
            if (stateSince_.elapsed() > 800) {
                save(page, "results-enlarged");
                resultsState_ = 8;
            }
            break;
        case 8: {
            // Back loses the files found: the question is shown and answered OK.
            QPointer<CFileDisplayDlg> shownPage(page);
            auto* answer = new QTimer(this);
            answer->setInterval(50);
            connect(answer, &QTimer::timeout, this, [this, shownPage, answer] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(w);
                        box && box->isVisible() && box->objectName() == "confirmBox") {
                        answer->stop();
                        answer->deleteLater();
                        save(shownPage, "results-back-question", box);
                        box->button(QMessageBox::Ok)->click();
                        return;
                    }
                if (!shownPage || !shownPage->isVisible()) {
                    answer->stop();
                    answer->deleteLater();
                }
            });
            answer->start();
            resultsState_ = 6;  // before the click: it returns once the page is gone
            page->findChild<CButtonST*>("backButton")->click();
            break;
        }
        default:
            break;
    }
    if (resultsState_ != before) stateSince_.start();
    std::fflush(stdout);
    driving_ = false;
}

void ScreenshotTour::nextStep() {
    if (step_ < steps_.size()) {
        stepName_ = steps_[step_].first;
        steps_[step_++].second();
        return;
    }
    for (std::thread& t : askers_)
        if (t.joinable()) t.join();
    std::printf("%d screenshots in %s\n", saved_, qPrintable(folder_));
    std::fflush(stdout);
    if (auto* main = qobject_cast<QDialog*>(mainWindow())) main->done(QDialog::Accepted);
}

void ScreenshotTour::save(QWidget* window, const QString& name, QWidget* alsoShow) {
    if (!window) {
        std::printf("%s: skipped, its window is not there\n", qPrintable(name));
        std::fflush(stdout);
        return;
    }
    // The screen's own pixels, so shaped windows, popups and tooltips show as
    // they are; a window system without screen grabs gets the widget's picture.
    QRect area = window->frameGeometry();
    if (alsoShow) area = area.united(alsoShow->frameGeometry());
    QPixmap picture;
    if (QScreen* screen = window->screen())
        picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (picture.isNull()) picture = window->grab();
    const QString file =
        QDir(folder_).filePath(QString("%1-%2.png").arg(++saved_, 2, 10, QChar('0')).arg(name));
    picture.save(file);
    std::printf("%s\n", qPrintable(file));
    std::fflush(stdout);
}

}  // namespace kestrum::ui
