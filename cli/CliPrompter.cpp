#include "CliPrompter.h"

#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <iostream>

namespace kestrum::cli {
namespace {
std::atomic<bool> asking{false};
}  // namespace

CliPrompter::CliPrompter(ExistsPolicy exists, BadSectorPolicy badSectors, bool interactive)
    : exists_(exists), badSectors_(badSectors), interactive_(interactive) {}

bool CliPrompter::terminalAttached() {
    return ::isatty(0) && ::isatty(2);
}

bool CliPrompter::questionOpen() {
    return asking.load();
}

void CliPrompter::showMessage(const std::string& text, MessageIcon icon) {
    const char* prefix = icon == MessageIcon::Error ? "error: " : "";
    std::fprintf(stderr, "\n%s%s\n", prefix, text.c_str());
}

bool CliPrompter::confirm(const std::string& text) {
    if (!interactive_) return false;
    return ask(text + " [y/N] ", "yn") == 'y';
}

bool CliPrompter::openInTextViewer(const std::string& path) {
    std::printf("%s\n", path.c_str());
    return true;
}

BadSectorAnswer CliPrompter::askBadSector() {
    BadSectorPolicy policy = badSectors_;
    if (policy == BadSectorPolicy::Ask && !interactive_) policy = BadSectorPolicy::Skip;
    // Without a person to ask, the choice holds for the rest of the run.
    if (policy == BadSectorPolicy::Retry) return BadSectorAnswer::RetryAll;
    if (policy == BadSectorPolicy::Skip) return BadSectorAnswer::SkipAll;
    switch (
        ask("Encountered Bad Sector(s) while reading disk.\n"
            "[r]etry, [s]kip, r[e]try all, skip [a]ll? ",
            "rsea")) {
        case 'r':
            return BadSectorAnswer::Retry;
        case 'e':
            return BadSectorAnswer::RetryAll;
        case 'a':
            return BadSectorAnswer::SkipAll;
        default:
            return BadSectorAnswer::Skip;
    }
}

ReplaceAnswer CliPrompter::askReplace(const std::string& fileName) {
    ExistsPolicy policy = exists_;
    // Without a person to ask, nothing is lost: the newcomer takes a free name.
    if (policy == ExistsPolicy::Ask && !interactive_) policy = ExistsPolicy::KeepBoth;
    if (policy == ExistsPolicy::Replace) return ReplaceAnswer::YesToAll;
    if (policy == ExistsPolicy::Skip) return ReplaceAnswer::NoToAll;
    if (policy == ExistsPolicy::KeepBoth) return ReplaceAnswer::KeepBothToAll;
    switch (ask("\"" + fileName +
                    "\" this file is already exist.\nWould you like to replace the existing "
                    "file ? [y]es, yes to [a]ll, [n]o, no t[o] all, keep [b]oth (Enter), "
                    "keep both for a[l]l: ",
                "yanobl", 'b')) {
        case 'y':
            return ReplaceAnswer::Yes;
        case 'a':
            return ReplaceAnswer::YesToAll;
        case 'o':
            return ReplaceAnswer::NoToAll;
        case 'n':
            return ReplaceAnswer::No;
        case 'b':
            return ReplaceAnswer::KeepBoth;
        case 'l':
            return ReplaceAnswer::KeepBothToAll;
        default:
            return ReplaceAnswer::Cancel;  // end of input: keep the file
    }
}

char CliPrompter::ask(const std::string& question, const std::string& choices, char fallback) {
    std::lock_guard lock(askMutex_);
    asking.store(true);
    // The progress line may be half drawn: the question starts on a clean line.
    if (::isatty(2)) std::fprintf(stderr, "\r\033[K");
    char answer = 0;
    for (;;) {
        std::fprintf(stderr, "\n%s", question.c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) break;
        if (line.empty() && fallback != 0) {
            answer = fallback;
            break;
        }
        if (line.empty()) continue;
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (choices.find(c) != std::string::npos) {
            answer = c;
            break;
        }
    }
    asking.store(false);
    return answer;
}

}  // namespace kestrum::cli
