#include "app/Log.h"

#include <cstdint>
#include <mutex>

#include "app/Prompter.h"
#include "app/Session.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OutputFile.h"
#include "platform/Registry.h"

namespace kestrum {
namespace {

constexpr uint64_t kRestartBytes = 5242880;
constexpr size_t kMaxTextBytes = 200;

struct LogFacts {
    const char* fileName;
    const char* registryValue;
    const char* notFound;
    const char* confirmClear;
};

const LogFacts& facts(LogKind kind) {
    static const LogFacts activity{"Activity Log.txt", "Activity Log",
                                   "Activity Report file not found",
                                   "Are you sure you want to delete Activity Report"};
    static const LogFacts recovery{"Recovery Log.txt", "Recovery Log",
                                   "Recovery Log file not found",
                                   "Are you sure you want to delete Recovery History"};
    return kind == LogKind::Activity ? activity : recovery;
}

// One writer at a time inside the process; the file lock below keeps other
// processes out. Waiting instead of failing means no line is ever dropped.
std::mutex appendMutex;

// At most max bytes of text, up to its first NUL, never splitting a UTF-8 character.
std::string cutText(const std::string& text, size_t max) {
    std::string s = text.substr(0, text.find('\0'));
    if (s.size() <= max) return s;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

}  // namespace

std::string logPath(LogKind kind) {
    const platform::Registry registry;
    const auto root = platform::RegistryRoot::ClassesRoot;
    std::string folder =
        registry.readValue(root, kInstallKey, facts(kind).registryValue).value_or(std::string());
    if (folder.empty() || !platform::directoryExists(folder))
        folder = registry.readValue(root, kInstallKey, "FilePath").value_or(std::string());
    // Without the install step's folders: the user's data folder, never the root.
    if (folder.empty() || !platform::directoryExists(folder)) folder = platform::defaultLogFolder();
    if (folder.empty()) return {};
    return platform::joinPath(folder, facts(kind).fileName);
}

int appendLog(LogKind kind, const std::string& text) {
    const std::string path = logPath(kind);
    const std::string line = "\r\n" + cutText(text, kMaxTextBytes);

    std::lock_guard guard(appendMutex);
    platform::makeWritable(path);
    auto file = platform::OutputFile::openLocked(path);
    if (!file) return 0;
    if (file->size() > kRestartBytes) {
        file.reset();
        platform::makeWritable(path);
        platform::removeEntry(path);
        file = platform::OutputFile::openLocked(path);
        if (!file) return 0;
    }
    return file->append(line.data(), line.size()) ? 1 : 0;
}

void viewLog(LogKind kind) {
    const std::string path = logPath(kind);
    if (!platform::fileExists(path)) {
        prompter().showMessage(facts(kind).notFound, MessageIcon::Information);
        return;
    }
    prompter().openInTextViewer(path);
}

void clearLog(LogKind kind) {
    const std::string path = logPath(kind);
    if (!platform::fileExists(path)) {
        prompter().showMessage(std::string(facts(kind).fileName) + " file not found",
                               MessageIcon::Information);
        return;
    }
    if (!prompter().confirm(facts(kind).confirmClear)) return;
    platform::makeWritable(path);
    platform::removeEntry(path);
}

}  // namespace kestrum
