// The install step: records the application folder, the log folder and the
// machine's registered owner in the registry store, as an installer would.
#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Session.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace {

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// The owner Windows was registered to at setup, else the login name.
std::string ownerName() {
    wchar_t name[512] = {};
    DWORD bytes = sizeof name;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                     L"RegisteredOwner", RRF_RT_REG_SZ, nullptr, name, &bytes) == ERROR_SUCCESS &&
        name[0] != L'\0')
        return utf8(name);
    DWORD size = 512;
    return GetUserNameW(name, &size) ? utf8(name) : std::string();
}
#else
// The user's full name from the account's comment field, else the login name.
std::string ownerName() {
    if (const passwd* account = ::getpwuid(::getuid())) {
        std::string full = account->pw_gecos ? account->pw_gecos : "";
        full = full.substr(0, full.find(','));
        if (!full.empty()) return full;
        if (account->pw_name && *account->pw_name) return account->pw_name;
    }
    const char* login = std::getenv("LOGNAME");
    return login ? login : "";
}
#endif

constexpr const char* kUsage =
    "Usage: kestrum-register [LOG_FOLDER]\n"
    "\n"
    "The install step: records the application folder, the log folder and the machine's\n"
    "registered owner (your full name) in the registry store. The log folder is made\n"
#ifdef _WIN32
    "when missing; without LOG_FOLDER it is %LOCALAPPDATA%\\Kestrum\\Logs. The store is\n"
    "HKEY_CURRENT_USER\\Software\\Kestrum for Digital Media.\n"
#else
    "when missing; without LOG_FOLDER it is ~/.local/share/kestrum/logs (under\n"
    "$XDG_DATA_HOME when set). The store is $KESTRUM_REGISTRY, else\n"
    "~/.config/kestrum/registry.\n"
#endif
    "\n"
    "Options:\n"
    "  -h, --help  show this help and end\n";

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // A folder whose name starts with '-' is still reachable as ./-name.
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "kestrum-register: unknown option %s\n%s", arg.c_str(), kUsage);
            return 1;
        }
        folders.push_back(arg);
    }
    if (folders.size() > 1) {
        std::fprintf(stderr, "kestrum-register: give at most one LOG_FOLDER.\n%s", kUsage);
        return 1;
    }
    const std::string appFolder = kestrum::platform::programFolder();
    std::string logFolder;
    if (!folders.empty()) {
        logFolder = folders[0];
    } else {
        logFolder = kestrum::platform::defaultLogFolder();
        if (logFolder.empty()) {
#ifdef _WIN32
            std::fprintf(stderr,
                         "kestrum-register: cannot create the log folder under "
                         "%%LOCALAPPDATA%%\n");
#else
            std::fprintf(stderr,
                         "kestrum-register: cannot create the log folder under "
                         "$XDG_DATA_HOME or ~/.local/share\n");
#endif
            return 1;
        }
    }
    std::error_code ec;
    fs::create_directories(logFolder, ec);
    if (ec) {
        std::fprintf(stderr, "kestrum-register: cannot create the log folder %s: %s\n",
                     logFolder.c_str(), ec.message().c_str());
        return 1;
    }
    std::string error;
    if (!kestrum::writeInstallRegistry(appFolder, logFolder, &error)) {
        std::fprintf(stderr, "kestrum-register: cannot write the registry store: %s\n",
                     error.c_str());
        return 1;
    }
    kestrum::platform::Registry registry;
    if (!registry.writeValue(kestrum::platform::RegistryRoot::LocalMachine,
                             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner",
                             ownerName())) {
        std::fprintf(stderr, "kestrum-register: cannot write the registered owner: %s\n",
                     registry.lastError().c_str());
        return 1;
    }
    std::printf("Registered %s (logs in %s)\n", appFolder.c_str(), logFolder.c_str());
    return 0;
}
