#include "app/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "app/Prompter.h"
#include "app/Session.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace kestrum {
namespace {

constexpr off_t kRestartBytes = 5242880;
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

// Clears read-only, as "set the attributes to normal" did.
void makeWritable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

int openLocked(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

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
    return platform::joinPath(folder, facts(kind).fileName);
}

int appendLog(LogKind kind, const std::string& text) {
    const std::string path = logPath(kind);
    const std::string line = "\r\n" + cutText(text, kMaxTextBytes);

    std::lock_guard guard(appendMutex);
    makeWritable(path);
    int fd = openLocked(path);
    if (fd < 0) return 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > kRestartBytes) {
        ::close(fd);
        makeWritable(path);
        ::unlink(path.c_str());
        fd = openLocked(path);
        if (fd < 0) return 0;
    }
    const bool ok = ::lseek(fd, 0, SEEK_END) >= 0 && writeAll(fd, line.data(), line.size());
    ::close(fd);
    return ok ? 1 : 0;
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
    makeWritable(path);
    ::unlink(path.c_str());
}

}  // namespace kestrum
