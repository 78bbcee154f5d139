// Type lists and a detection shortcut shared by the scan tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "disk/SectorView.h"
#include "filetypes/Catalogue.h"
#include "scan/Detection.h"

namespace kestrum::test {

inline TypeList typesOf(std::initializer_list<const char*> names, const char* sizeKb = "2000") {
    std::vector<SelectedType> rows;
    for (const char* n : names) rows.push_back({n, sizeKb});
    return buildSelection(rows);
}

inline TypeList allTypes() {
    std::vector<SelectedType> rows;
    for (const CatalogueRow& r : catalogueRows()) rows.push_back({std::string(r.type), "2000"});
    return buildSelection(rows);
}

// The type name DetectFileType gives for sector j of bytes (all of bytes being
// the read buffer), or "" when none.
inline std::string detectedName(TypeList& types, const std::vector<uint8_t>& bytes, size_t j = 0) {
    const SectorView sector = SectorView(bytes.data(), bytes.size(), 0).fromSector(j);
    char name[6] = {};
    int32_t span = 0;
    return DetectFileType(types, sector, name, span) < 0 ? "" : name;
}

}  // namespace kestrum::test
