#include "platform/Process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace kestrum::platform {

int runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                      std::string* error) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        if (error) *error = "cannot start " + program + ": " + std::strerror(rc);
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            if (error) *error = "cannot wait for " + program + ": " + std::strerror(errno);
            return -1;
        }
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (error) *error = program + " ended by signal " + std::to_string(WTERMSIG(status));
    return -1;
}

}  // namespace kestrum::platform
