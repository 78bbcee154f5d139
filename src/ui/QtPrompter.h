// The desktop application's answers to the engine: message boxes, the text
// viewer, and the bad-sector and replace questions. A question asked on a worker
// thread is shown on the UI thread while the worker waits for the answer, so the
// UI thread must never block waiting for a worker that may ask (it polls).
#pragma once

#include <QObject>

#include "app/Prompter.h"

namespace kestrum::ui {

class QtPrompter : public QObject, public Prompter {
    Q_OBJECT
public:
    // Build it on the UI thread: that is where it shows its boxes.
    explicit QtPrompter(QObject* parent = nullptr);

    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(const std::string& text) override;
    bool openInTextViewer(const std::string& path) override;
    BadSectorAnswer askBadSector() override;
    ReplaceAnswer askReplace(const std::string& fileName) override;

private:
    // Runs ask on the UI thread: directly there, else as a blocking queued call.
    template <typename Result, typename Ask>
    Result onUiThread(Ask ask, Result withoutUi);
};

}  // namespace kestrum::ui
