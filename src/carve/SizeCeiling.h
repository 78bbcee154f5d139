// How far a thorough-mode walk may measure a file of one type.
#pragma once

#include <cstdint>
#include <string_view>

#include "filetypes/TypeRecord.h"

namespace kestrum::carve {

// The most bytes a file of this type may be listed with. selected is its record
// in the scan's type list, or null for a type the user did not choose.
uint64_t sizeCeiling(std::string_view type, const stExtInfo* selected);

}  // namespace kestrum::carve
