#include "Cli.h"

#include <cstdio>
#include <cstring>

#include "app/Session.h"

namespace kestrum::cli {
namespace {

struct Command {
    const char* name;
    int (*fn)(const std::vector<std::string>&);
    const char* summary;
};

const Command kCommands[] = {
    {"devices", devicesCommand, "list the logical drives and physical disks"},
    {"types", typesCommand, "list the file types that can be recovered"},
    {"scan", scanCommand, "find files on a source; list them and save them (SOURCE)"},
    {"image", imageCommand, "copy a sector range into a disk image (SOURCE --out DIR)"},
};

void printUsage(FILE* out) {
    std::fprintf(out, "Usage: kestrum-recover COMMAND [OPTIONS]\n\nCommands:\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
}

}  // namespace

int run(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitDone;
    }
    loadStartupValues(session());
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : kCommands)
        if (!std::strcmp(argv[1], c.name)) return c.fn(args);
    std::fprintf(stderr, "kestrum-recover: unknown command \"%s\"; run kestrum-recover --help.\n",
                 argv[1]);
    return kExitUsage;
}

}  // namespace kestrum::cli
