// Turns the SOURCE and --range arguments into the session's source and range, as
// the source page does on Next, with messages that say what is wrong and what to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Reports.h"

namespace kestrum::cli {

struct SourceInfo {
    std::string parentText;  // the source page's tree parent: "Select Image", ...
    std::string itemText;
    std::vector<std::string> infoLines;
    uint64_t sizeSectors = 0;
    bool image = false;  // an image folder or an image file, not a device
};

// Points the session at source: a folder holding "Image0.img" or its pieces, an
// image file of any name, a block device, or a "\\.\" device path. Checks that it
// can be read (mend for an unreadable source: the reason, before any work).
bool selectSource(const std::string& source, SourceInfo& info, std::string& error);

// "START:END", end exclusive; either side may be empty (0 and the source's size).
bool parseRange(const std::string& text, uint64_t sizeSectors, uint64_t& start, uint64_t& end,
                std::string& error);

// Stores the range in the session and writes the source block to the activity log.
void commitSource(WorkMode mode, const SourceInfo& info, uint64_t start, uint64_t end);

}  // namespace kestrum::cli
