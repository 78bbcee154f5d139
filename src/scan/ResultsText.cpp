#include "scan/ResultsText.h"

#include <cstdio>

namespace kestrum {

std::string fileSizeText(uint64_t sectorCount) {
    const uint64_t bytes = sectorCount * 512;
    char text[64];
    if (bytes < 1048576)
        std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / 1024);
    else if (bytes < 1073741824)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576);
    else
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1073741824);
    return text;
}

std::string typeNodeLabel(std::string_view extName, int32_t foundCount) {
    return std::string(extName) + " (" + std::to_string(foundCount) + ")";
}

bool labelNamesType(std::string_view label, std::string_view extName) {
    return !extName.empty() && label.substr(0, extName.size()) == extName;
}

}  // namespace kestrum
