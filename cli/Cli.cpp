#include "Cli.h"

#include <cstdio>
#include <cstring>

#include "Help.h"
#include "app/Session.h"

namespace kestrum::cli {
namespace {

struct Command {
    const char* name;
    int (*fn)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"devices", devicesCommand},
    {"types", typesCommand},
    {"scan", scanCommand},
    {"image", imageCommand},
};

}  // namespace

int run(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "--version")) {
        printVersion(stdout);
        return kExitDone;
    }
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitDone;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const CommandHelp& help : commandHelp()) {
        if (std::strcmp(argv[1], help.name) != 0) continue;
        // Answered before anything is read or checked: no source is needed.
        if (asksForHelp(args)) {
            printCommandHelp(help, stdout);
            return kExitDone;
        }
        if (asksForVersion(args)) {
            printVersion(stdout);
            return kExitDone;
        }
    }
    loadStartupValues(session());
    for (const auto& c : kCommands)
        if (!std::strcmp(argv[1], c.name)) return c.fn(args);
    std::fprintf(stderr, "kestrum-recover: unknown command \"%s\"; run kestrum-recover --help.\n",
                 argv[1]);
    return kExitUsage;
}

}  // namespace kestrum::cli
