// Installation, data and private folders of a Windows user, and path joining
// with the backslash.
#include "platform/Folders.h"

// Win32.h first: shlobj.h needs windows.h before it.
#include "platform/win32/Win32.h"

#include <shlobj.h>

#include <cstdlib>
#include <filesystem>

namespace kestrum::platform {
namespace fs = std::filesystem;
using namespace win32;
namespace {

bool sameNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// %LOCALAPPDATA% (C:\Users\<name>\AppData\Local): the user's own files that do
// not roam with a domain profile.
std::string localAppData() {
    if (const char* p = std::getenv("LOCALAPPDATA"); p && *p) return p;
    wchar_t* path = nullptr;
    std::string out;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path) == S_OK)
        out = narrow(path, wcslen(path));
    CoTaskMemFree(path);
    return out;
}

std::vector<std::string> matchesNoCase(const std::string& folder, const std::string& name,
                                       bool firstOnly) {
    const std::string exact = joinPath(folder, name);
    const size_t cut = exact.find_last_of("\\/");
    const std::wstring wanted = widen(exact.substr(cut + 1));
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(widen(exact.substr(0, cut)), ec)) {
        if (!sameNoCase(entry.path().filename().wstring(), wanted) || entry.is_directory(ec))
            continue;
        found.push_back(narrow(entry.path().wstring()));
        if (firstOnly) break;
    }
    return found;
}

}  // namespace

std::string programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return narrow(fs::path(path).parent_path().wstring());
}

std::string installPrefix() {
    if (const char* p = std::getenv("KESTRUM_PREFIX"); p && *p) return p;
    return narrow(fs::path(widen(programFolder())).parent_path().wstring());
}

std::string windowsFolder() {
    return joinPath(installPrefix(), "share");
}

std::string privateTempFolder() {
    // The user's temporary folder (%TEMP%, under the profile) is private to the
    // user by its access list; a folder of ours inside keeps previews together.
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return {};
    const std::string folder = joinPath(narrow(temp, n), "kestrum");
    const std::wstring wide = widen(folder);
    CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    // A link in its place could send the previews elsewhere.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    return folder;
}

std::string defaultLogFolder() {
    const std::string base = localAppData();
    if (base.empty()) return {};
    const std::string folder = joinPath(base, "Kestrum\\Logs");
    std::error_code ec;
    fs::create_directories(fs::path(widen(folder)), ec);
    return directoryExists(folder) ? folder : std::string();
}

std::string joinPath(const std::string& folder, const std::string& name) {
    std::string n = name;
    while (!n.empty() && (n.front() == '\\' || n.front() == '/')) n.erase(0, 1);
    std::string f = folder;
    while (!f.empty() && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    return f + "\\" + n;
}

std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    if (fileExists(exact)) return exact;
    auto found = matchesNoCase(folder, name, true);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<std::string> findAllNoCase(const std::string& folder, const std::string& name) {
    return matchesNoCase(folder, name, false);
}

bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace kestrum::platform
