// What the engine asks of a front end: message boxes, confirmations, the text
// viewer, and the two questions a worker may put to the user. The desktop
// application answers on its UI thread (the worker waits); the command-line tool
// answers from its options or the terminal.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum {

enum class BadSectorAnswer : int32_t { Retry = 0, Skip = 1, RetryAll = 2, SkipAll = 3 };

// Codes of the replace question; any other value keeps the file.
enum class ReplaceAnswer : int32_t {
    Cancel = 2,
    Yes = 1001,
    YesToAll = 1002,
    No = 1003,
    NoToAll = 1004,
    // Saves the newcomer under a free name ("File1 (2).JPEG"): neither side is lost.
    KeepBoth = 1005,
    KeepBothToAll = 1006,
};

enum class MessageIcon { Information, Exclamation, Error, Question };

class Prompter {
public:
    virtual ~Prompter() = default;

    // A system-modal message box with the session's messageCaption.
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    // OK/Cancel with the question icon; true on OK.
    virtual bool confirm(const std::string& text) = 0;
    // Opens a text file in the desktop's text viewer without waiting for it.
    virtual bool openInTextViewer(const std::string& path) = 0;
    // Asked from a worker thread, which waits for the answer.
    virtual BadSectorAnswer askBadSector() = 0;
    // fileName is the found file's name alone (such as File12.JPEG).
    virtual ReplaceAnswer askReplace(const std::string& fileName) = 0;
};

// Answers without a user: messages are dropped, confirmations refused, bad
// sectors skipped, existing files kept. Used until a front end installs its own.
class SilentPrompter : public Prompter {
public:
    void showMessage(const std::string&, MessageIcon) override {}
    bool confirm(const std::string&) override { return false; }
    bool openInTextViewer(const std::string&) override { return false; }
    BadSectorAnswer askBadSector() override { return BadSectorAnswer::Skip; }
    ReplaceAnswer askReplace(const std::string&) override { return ReplaceAnswer::No; }
};

// The process-wide front end. Never null: the silent one stands in by default.
Prompter& prompter();
// Installs p (not owned; must outlive its use); nullptr restores the silent one.
void setPrompter(Prompter* p);

}  // namespace kestrum
