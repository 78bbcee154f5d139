#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace kestrum::platform {

int runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                      std::string* error, std::string* errorOutput) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (errorOutput && ::pipe2(pipeFds, O_CLOEXEC) == 0)
        ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    if (pipeFds[0] >= 0) {
        // Read to the end before waiting, so a talkative program never blocks.
        std::string text;
        char chunk[512];
        for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            text.append(chunk, static_cast<size_t>(n));
            if (text.size() > 2048) text.erase(0, text.size() - 2048);
        }
        ::close(pipeFds[0]);
        *errorOutput = text;
    }
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
