// The texts of the results page: a found file's size, a type node's label, and
// how a label names its type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scan/FileInfo.h"

namespace kestrum {

// sectorCount x 512 bytes as "%.2f KB" below 1 MiB, "%.2f MB" below 1 GiB, else
// "%.2f GB": 10 sectors give "5.00 KB", 4000 give "1.95 MB".
std::string fileSizeText(uint64_t sectorCount);

// A found file's size text from its exact length when it has one, followed by
// " (partial)" for the valid prefix of a broken or cut file, " (joined)" for one
// reassembled from two pieces.
std::string fileSizeText(const FileInfo& f);

// "%s (%d)": "JPEG (12)".
std::string typeNodeLabel(std::string_view extName, int32_t foundCount);

// Whether a tree label (or a listed type label) is the node of extName: the label
// cut to the length of extName equals it.
bool labelNamesType(std::string_view label, std::string_view extName);

}  // namespace kestrum
