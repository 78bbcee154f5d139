// `kestrum-recover types`: the catalogue with the default maximum size per type,
// the thorough-only types marked in their groups.
#include <cstdio>

#include "Cli.h"
#include "filetypes/Catalogue.h"

namespace kestrum::cli {

int typesCommand(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "kestrum-recover types: takes no arguments.\n");
        return kExitUsage;
    }
    std::printf("%-10s %-24s %s\n", "File Type", "Description", "Maximum Size (in KB)");
    for (const CatalogueRow& row : offeredRows(true))
        std::printf("%-10.*s %-24.*s %d%s\n", static_cast<int>(row.type.size()), row.type.data(),
                    static_cast<int>(row.description.size()), row.description.data(),
                    kDefaultSizeKb, isThoroughOnly(row.type) ? "  *" : "");
    std::printf(
        "\nDIVX has no header rule: only scan --thorough finds it (DivX and XviD AVI files).\n"
        "* Found by scan --thorough only, which recognises them by their structure.\n"
        "Sizes may be set from 2 to 250000 KB with --max-kb TYPE=KB.\n");
    return kExitDone;
}

}  // namespace kestrum::cli
