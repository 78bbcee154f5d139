// `kestrum-recover devices`: the logical drives and physical disks the source
// page offers, with the facts it shows for them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Cli.h"
#include "disk/SizeText.h"
#include "platform/Devices.h"

namespace kestrum::cli {
namespace {

using Row = std::vector<std::string>;

// Left-aligned columns, except the columns marked right-aligned (sizes).
void printTable(const Row& header, const std::vector<Row>& rows, const std::vector<bool>& right) {
    std::vector<size_t> width(header.size());
    for (size_t c = 0; c < header.size(); ++c) width[c] = header[c].size();
    for (const Row& r : rows)
        for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
    auto print = [&](const Row& r) {
        std::string line = " ";
        for (size_t c = 0; c < r.size(); ++c) {
            const std::string pad(width[c] - r[c].size(), ' ');
            line += " " + (right[c] ? pad + r[c] : r[c] + pad) + " ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    };
    print(header);
    for (const Row& r : rows) print(r);
}

}  // namespace

int devicesCommand(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "kestrum-recover devices: unexpected argument \"%s\"\n",
                     args[0].c_str());
        return kExitUsage;
    }

    std::vector<Row> rows;
    for (const auto& d : platform::logicalDrives()) {
        rows.push_back(
            {std::string(1, d.letter) + ":", d.label.empty() ? "Local Disk" : d.label, d.fileSystem,
             sizeText(d.totalBytes), sizeText(d.totalBytes - std::min(d.freeBytes, d.totalBytes)),
             sizeText(d.freeBytes), platform::mediaTypeText(d.kind), d.deviceNode, d.mountPoint});
    }
    std::printf("Logical drives\n");
    if (rows.empty())
        std::printf("  (none)\n");
    else
        printTable({"Drive", "Volume Name", "File System", "Capacity", "Used Space", "Free Space",
                    "Type", "Device", "Mounted On"},
                   rows, {false, false, false, true, true, true, false, false, false});

    rows.clear();
    for (const auto& d : platform::physicalDisks()) {
        rows.push_back({"Disk" + std::to_string(d.number), d.deviceNode, d.model,
                        platform::mediaTypeText(d.kind),
                        std::to_string(d.sizeBytes / 1048576) + " MB"});
    }
    std::printf("\nPhysical disks\n");
    if (rows.empty())
        std::printf("  (none)\n");
    else
        printTable({"Disk", "Device", "Model", "Media Type", "Disk Size"}, rows,
                   {false, false, false, false, true});
    std::fflush(stdout);
    return kExitDone;
}

}  // namespace kestrum::cli
