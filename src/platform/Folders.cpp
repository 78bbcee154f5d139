// Installation, data and private temporary folders, and path joining.
#include "platform/Folders.h"

#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace kestrum::platform {
namespace fs = std::filesystem;

std::string programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

std::string installPrefix() {
    if (const char* p = std::getenv("KESTRUM_PREFIX"); p && *p) return p;
    return fs::path(programFolder()).parent_path().string();
}

std::string windowsFolder() {
    return joinPath(installPrefix(), "share");
}

namespace {
bool isOwnDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}
}  // namespace

std::string privateTempFolder() {
    std::string base;
    if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r && directoryExists(r))
        base = r;
    else if (const char* t = std::getenv("TMPDIR"); t && *t && directoryExists(t))
        base = t;
    else
        base = "/tmp";
    const std::string folder = joinPath(base, "kestrum-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    // A folder of someone else's, or a link in its place, would expose the
    // previews: accept only a real directory of ours, and keep it private.
    if (isOwnDirectory(folder)) {
        ::chmod(folder.c_str(), 0700);
        return folder;
    }
    // The usual name is taken: use one folder of our own for the rest of the
    // process, so that every preview lands in the same place.
    static std::mutex lock;
    static std::string fallback;
    const std::lock_guard<std::mutex> hold(lock);
    if (fallback.empty() || !isOwnDirectory(fallback)) {
        std::string unique = joinPath(base, "kestrum-XXXXXX");
        fallback = ::mkdtemp(unique.data()) != nullptr ? unique : std::string();
    }
    return fallback;
}

std::string defaultLogFolder() {
    std::string base;
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/') {
        base = d;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            if (const passwd* account = ::getpwuid(::getuid())) home = account->pw_dir;
        if (!home || *home != '/') return {};
        base = joinPath(home, ".local/share");
    }
    const std::string folder = joinPath(base, "kestrum/logs");
    // Each missing level is made private; existing ones are left as they are.
    for (size_t cut = folder.find('/', 1); cut != std::string::npos;
         cut = folder.find('/', cut + 1))
        ::mkdir(folder.substr(0, cut).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    return directoryExists(folder) ? folder : std::string();
}

std::string joinPath(const std::string& folder, const std::string& name) {
    std::string n = name;
    while (!n.empty() && (n.front() == '\\' || n.front() == '/')) n.erase(0, 1);
    // A folder kept the Windows way ends in a backslash ("...\"); here that
    // backslash stands for the separator, not for part of a name.
    std::string f = folder;
    while (!f.empty() && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    return f + "/" + n;
}

std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    if (fileExists(exact)) return exact;
    const size_t cut = exact.rfind('/');
    const std::string wanted = exact.substr(cut + 1);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cut == 0 ? "/" : exact.substr(0, cut), ec)) {
        const std::string candidate = entry.path().filename().string();
        if (::strcasecmp(candidate.c_str(), wanted.c_str()) == 0 && !entry.is_directory(ec))
            return entry.path().string();
    }
    return std::nullopt;
}

std::vector<std::string> findAllNoCase(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    const size_t cut = exact.rfind('/');
    const std::string wanted = exact.substr(cut + 1);
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cut == 0 ? "/" : exact.substr(0, cut), ec)) {
        const std::string candidate = entry.path().filename().string();
        if (::strcasecmp(candidate.c_str(), wanted.c_str()) == 0 && !entry.is_directory(ec))
            found.push_back(entry.path().string());
    }
    return found;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kestrum::platform
