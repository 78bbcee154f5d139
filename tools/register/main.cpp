// The install step: records the application folder, the log folder and the
// machine's registered owner in the registry store, as an installer would.
#include <pwd.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Session.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const std::string appFolder = kestrum::platform::programFolder();
    std::string logFolder;
    if (argc > 1) {
        logFolder = argv[1];
    } else {
        logFolder = kestrum::platform::defaultLogFolder();
        if (logFolder.empty()) {
            std::fprintf(stderr,
                         "kestrum-register: cannot create the log folder under "
                         "$XDG_DATA_HOME or ~/.local/share\n");
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
