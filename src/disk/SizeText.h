// Byte counts as the source page writes them: "%.1f" GB, MB or KB, or "0".
#pragma once

#include <cstdint>
#include <string>

namespace kestrum {

std::string sizeText(uint64_t bytes);

}  // namespace kestrum
