// The help tables of kestrum-recover and their printing.
#include "Help.h"

#include <algorithm>
#include <cstring>

namespace kestrum::cli {

namespace {

const OptionHelp kHelpOption{"-h, --help", "show this help and end"};
const OptionHelp kVersionOption{"--version", "show the version and end"};

}  // namespace

const std::vector<CommandHelp>& commandHelp() {
    static const std::vector<CommandHelp> commands{
        {"devices",
         "devices",
         "list the logical drives and physical disks",
         "Lists the logical drives and the physical disks that can be scanned.\n"
         "A drive is read as \\\\.\\X: and disk n as \\\\.\\PhysicalDrive<n>.",
         {}},
        {"types",
         "types",
         "list the file types that can be recovered",
         "Lists the file types with their default maximum size.",
         {}},
        {"scan",
         "scan SOURCE [OPTIONS]",
         "find files on a source; list them and save them (SOURCE)",
         "Finds files on SOURCE: a device (/dev/sdb, \\\\.\\PhysicalDrive<n>, \\\\.\\X:), an\n"
         "image file, or a folder holding Image0.img or image pieces.\n\n"
         "Files are saved as DIR/TYPE/FileN.TYPE. When a file of that name is already there,\n"
         "both are kept by default: the new one is saved as \"FileN (2).TYPE\" (or (3), ...),\n"
         "unless it holds the very same bytes. A file gets its name only once it is whole.\n"
         "Skipped sectors read as zeros; the summary counts them. The exit code is 3 when\n"
         "a file could not be saved or none was.",
         {
             {"--types T1,T2|all", "the file types to look for (default all; see 'types')"},
             {"--max-kb TYPE=KB", "largest size of TYPE in KB, 2 to 250000 (repeatable)"},
             {"--range START:END", "the sectors to read (default: the whole source)"},
             {"--list", "print each file found: name, type, first sector, sectors"},
             {"--save DIR", "save the files found into DIR (made when missing)"},
             {"--on-exists MODE", "a name already in DIR: keep-both (default), ask, replace, skip"},
             {"--on-bad-sector ask|retry|skip",
              "an unreadable sector: ask (default on a terminal), retry, skip"},
             {"--classic",
              "the classic rules, quicker; by default (--thorough) each file is measured to the "
              "byte and --list adds a column, whole, partial or joined"},
             {"--session FILE",
              "record the scan in FILE; the same command again continues where it stopped"},
             {"--save-every SECONDS", "how often the session is recorded, 1 to 30 (default 30)"},
             {"--map FILE",
              "a rescue map of the source: files over unreadable sectors are marked damaged "
              "(--list adds a column, damaged or intact)"},
         }},
        {"image",
         "image SOURCE --out DIR [OPTIONS]",
         "copy a sector range into a disk image (SOURCE --out DIR)",
         "Copies a sector range of SOURCE into DIR/Image0.img, or into 650 MiB pieces.",
         {
             {"--out DIR", "the folder for the image (made when missing)"},
             {"--range START:END", "the sectors to copy (default: the whole source)"},
             {"--multifile", "write 650 MiB pieces Image0.img, Image1.img, ..."},
             {"--overwrite", "replace an image already in DIR (refused without it)"},
             {"--rescue",
              "for failing media: good areas first with large reads, bad areas trimmed, "
              "scraped and retried later, no questions; resumable from its map"},
             {"--map FILE", "the rescue map (default DIR/Image0.map), GNU ddrescue's format"},
             {"--retries N", "passes over the sectors still bad at the end (default 0)"},
             {"--save-every SECONDS", "how often the map is saved, 1 to 30 (default 30)"},
         }},
    };
    return commands;
}

void printCommandHelp(const CommandHelp& help, FILE* out) {
    std::fprintf(out, "Usage: kestrum-recover %s\n\n", help.synopsis);
    if (*help.details) std::fprintf(out, "%s\n\n", help.details);
    std::vector<OptionHelp> rows = help.options;
    rows.push_back(kHelpOption);
    rows.push_back(kVersionOption);
    size_t width = 0;
    for (const OptionHelp& row : rows) width = std::max(width, std::strlen(row.option));
    std::fprintf(out, "Options:\n");
    for (const OptionHelp& row : rows)
        std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), row.option, row.text);
}

void printUsage(FILE* out) {
    std::fprintf(out, "Usage: kestrum-recover COMMAND [OPTIONS]\n\nCommands:\n");
    for (const CommandHelp& c : commandHelp()) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\nRun kestrum-recover COMMAND --help for its options; --version shows the "
                 "version.\n");
}

void printVersion(FILE* out) {
    std::fprintf(out, "kestrum-recover %s\n", KESTRUM_VERSION);
}

bool asksForHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

bool asksForVersion(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--version") != args.end();
}

}  // namespace kestrum::cli
