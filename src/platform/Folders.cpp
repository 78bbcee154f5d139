#include "platform/Folders.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

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

std::string privateTempFolder() {
    std::string base;
    if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r && directoryExists(r))
        base = r;
    else if (const char* t = std::getenv("TMPDIR"); t && *t)
        base = t;
    else
        base = "/tmp";
    const std::string folder = joinPath(base, "kestrum-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    // A folder of someone else's, or a link in its place, would expose the
    // previews: accept only a real directory of ours, and keep it private.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) {
        if ((st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);
        return folder;
    }
    std::string unique = joinPath(base, "kestrum-XXXXXX");
    if (::mkdtemp(unique.data()) != nullptr) return unique;
    return folder;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    std::string n = name;
    while (!n.empty() && (n.front() == '\\' || n.front() == '/')) n.erase(0, 1);
    if (folder.empty()) return "/" + n;
    if (folder.back() == '/' || folder.back() == '\\') return folder + n;
    return folder + "/" + n;
}

std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    if (fileExists(exact)) return exact;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? "/" : folder, ec)) {
        const std::string candidate = entry.path().filename().string();
        if (::strcasecmp(candidate.c_str(), name.c_str()) == 0 && !entry.is_directory(ec))
            return entry.path().string();
    }
    return std::nullopt;
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
