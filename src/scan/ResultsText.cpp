#include "scan/ResultsText.h"

#include <cstdio>

namespace kestrum {

namespace {

std::string bytesText(uint64_t bytes) {
    char text[64];
    if (bytes < 1048576)
        std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / 1024);
    else if (bytes < 1073741824)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576);
    else
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1073741824);
    return text;
}

}  // namespace

std::string fileSizeText(uint64_t sectorCount) {
    return bytesText(sectorCount * 512);
}

std::string fileSizeText(const FileInfo& f) {
    return bytesText(fileBytes(f)) + (f.partial ? " (partial)" : isJoined(f) ? " (joined)" : "");
}

std::string typeNodeLabel(std::string_view extName, int32_t foundCount) {
    return std::string(extName) + " (" + std::to_string(foundCount) + ")";
}

bool labelNamesType(std::string_view label, std::string_view extName) {
    return !extName.empty() && label.substr(0, extName.size()) == extName;
}

}  // namespace kestrum
