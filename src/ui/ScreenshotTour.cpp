#include "ui/ScreenshotTour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>

#include "app/Prompter.h"
#include "preview/PreviewCopy.h"
#include "ui/CMessageDlg.h"
#include "ui/CWaitDlg.h"
#include "ui/SourcePagesTour.h"

namespace kestrum::ui {
namespace {
constexpr int kSettleMs = 500;    // a window is saved once it has painted
constexpr int kSplashMs = 1000;   // mid-way through the splash's hold
constexpr int kTooltipMs = 1500;  // tooltips appear after a rest of the mouse
constexpr int kPollMs = 100;      // how often a scripted step looks whether it may go on
}  // namespace

std::unique_ptr<ScreenshotTour> ScreenshotTour::fromEnvironment() {
    const QString folder = qEnvironmentVariable("KESTRUM_SCREENSHOTS");
    if (folder.isEmpty()) return nullptr;
    return std::make_unique<ScreenshotTour>(folder);
}

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
             box.setMessage("File Saved Successfully.");
             box.exec();
         }},
        {"wait-box",
         [this] {
             listFillThread().start([] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
             CWaitDlg wait(mainWindow());
             wait.exec();
         }},
    };
    for (auto& step : sourcePageSteps(*this)) steps_.push_back(std::move(step));
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
    if (scripted_ || !watched->isWidgetType()) return false;
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
    auto* poll = new QTimer(this);
    poll->setInterval(kPollMs);
    connect(poll, &QTimer::timeout, this, [this, script, next, poll] {
        if (*next >= script->size()) {
            poll->stop();
            poll->deleteLater();
            scripted_ = false;
            QTimer::singleShot(kSettleMs, this, [this] { nextStep(); });
            return;
        }
        if (!(*script)[*next].ready()) return;
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
