// The screenshot tour, for looking at the windows without clicking through them:
// saves a PNG of each window as it really appears on the screen, walks through
// the windows it can reach from the main window (answering each one with Cancel
// or Escape, so nothing changes), and then closes the main window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QWidget;

namespace kestrum::ui {

class ScreenshotTour : public QObject {
    Q_OBJECT
public:
    // Saves into folder; made before the application's windows open.
    explicit ScreenshotTour(const QString& folder);
    ~ScreenshotTour() override;

    // One move of a scripted step: run once ready() holds and the screen has settled.
    struct Act {
        std::function<bool()> ready;
        std::function<void()> run;
    };
    // Plays the acts in turn while the windows they open come and go (none is
    // answered for them), then moves on to the next step. An act may open a
    // modal window: the later acts go on inside it.
    void play(std::vector<Act> acts);
    void save(QWidget* window, const QString& name, QWidget* alsoShow = nullptr);
    QWidget* mainWindow() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowShown(QWidget* window);
    void nextStep();
    // The recovery pages on the demo image: the file-type page with types ticked,
    // then the results page scanning (with a thumbnail) and browsing (with a
    // picture preview and a video in the player).
    void fileTypePage();
    void recoveryPages();
    void driveResultsPage();

    QString folder_;
    int saved_ = 0;
    bool started_ = false;
    size_t step_ = 0;
    // Each step opens one window, saved under the step's name.
    std::vector<std::pair<QString, std::function<void()>>> steps_;
    QString stepName_;
    std::vector<std::thread> askers_;
    bool scripted_ = false;
    // While set, windows are neither saved nor answered by the general rule: the
    // step that opened them drives them itself.
    bool quiet_ = false;
    int resultsState_ = 0;
    QElapsedTimer stateSince_;  // how long the results page has been in its state
    bool driving_ = false;
};

}  // namespace kestrum::ui
