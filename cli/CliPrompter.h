// The command-line tool's answers to the engine's questions: asked on the
// terminal when there is one, otherwise decided by the options.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/Prompter.h"

namespace kestrum::cli {

enum class ExistsPolicy { Ask, Replace, Skip, KeepBoth };
enum class BadSectorPolicy { Ask, Retry, Skip };

class CliPrompter : public Prompter {
public:
    CliPrompter(ExistsPolicy exists, BadSectorPolicy badSectors, bool interactive);

    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(const std::string& text) override;
    bool openInTextViewer(const std::string& path) override;
    BadSectorAnswer askBadSector() override;
    ReplaceAnswer askReplace(const std::string& fileName) override;

    // Whether stdin and stderr are both terminals.
    static bool terminalAttached();
    // True while a question waits for its answer on the terminal: a progress line
    // drawn then would overwrite its choices.
    static bool questionOpen();

private:
    // Reads one answer character from the terminal; 0 at end of input. An empty
    // line answers fallback when one is given.
    char ask(const std::string& question, const std::string& choices, char fallback = 0);

    ExistsPolicy exists_;
    BadSectorPolicy badSectors_;
    bool interactive_;
    std::mutex askMutex_;  // two workers never ask at once on one terminal
};

}  // namespace kestrum::cli
