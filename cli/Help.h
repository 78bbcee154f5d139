// The help of kestrum-recover: one table per command, one line per option, so an
// option is documented by adding its row.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kestrum::cli {

struct OptionHelp {
    const char* option;  // "--range START:END"
    const char* text;    // one line of explanation
};

struct CommandHelp {
    const char* name;
    const char* synopsis;  // after "Usage: kestrum-recover "
    const char* summary;   // the line the command list shows
    const char* details;   // a paragraph for COMMAND --help; may be empty
    std::vector<OptionHelp> options;
};

// Every command, in the order the usage lists them.
const std::vector<CommandHelp>& commandHelp();

// "Usage: ...", the command's paragraph and its option table.
void printCommandHelp(const CommandHelp& help, FILE* out);
// The top-level usage: the commands and how to get more.
void printUsage(FILE* out);
void printVersion(FILE* out);

// True when args ask for help (--help, -h) or for the version (--version).
bool asksForHelp(const std::vector<std::string>& args);
bool asksForVersion(const std::vector<std::string>& args);

}  // namespace kestrum::cli
