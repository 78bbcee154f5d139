#include "disk/SizeText.h"

#include <cstdio>

namespace kestrum {

std::string sizeText(uint64_t bytes) {
    char text[48];
    if (bytes >= 1073741824ULL)
        std::snprintf(text, sizeof text, "%.1f GB", bytes / 1073741824.0);
    else if (bytes >= 1048576ULL)
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
    else if (bytes > 0)
        std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    else
        return "0";
    return text;
}

}  // namespace kestrum
