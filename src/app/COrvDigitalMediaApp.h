// The application object: fills the session's start-up values, installs the
// desktop's answers to the engine's questions and runs the main window.
#pragma once

namespace kestrum {

class COrvDigitalMediaApp {
public:
    // Start-up in order, then the main window modally. Returns when it closes;
    // the process then ends (no message loop runs afterwards).
    int initInstance();
};

}  // namespace kestrum
