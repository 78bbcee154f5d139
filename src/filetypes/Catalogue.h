// The fixed catalogue of recoverable file types, the type rules behind it, and
// how a user's choice of types and maximum sizes becomes the scan's type list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "filetypes/TypeRecord.h"

namespace kestrum {

// What a type's files hold, in the order the type page shows its groups. The kind
// decides the group a type is offered in and how far a thorough walk may measure it.
enum class TypeKind : uint8_t { Raw, Audio, Video, Picture };

// How the results page shows a file of a type: not at all (a placeholder); in
// its preview, by the picture control for a raw or picture and by the player for
// sound and video; or also as the scan's live thumbnail.
enum class Shown : uint8_t { No, Previewed, Thumbnailed };

struct CatalogueRow {
    std::string_view type;
    std::string_view description;
    TypeKind kind = TypeKind::Picture;
    Shown shown = Shown::No;
};

inline constexpr size_t kCatalogueSize = 41;
inline constexpr int32_t kDefaultSizeKb = 2000;
inline constexpr int32_t kMinSizeKb = 2;  // the sizes a scan takes, in KB
inline constexpr int32_t kMaxSizeKb = 250000;
inline constexpr const char* kDefaultSizeText = "2000";

// The 41 rows in the order the type page shows them.
std::span<const CatalogueRow, kCatalogueSize> catalogueRows();

// The row of a catalogue or thorough-only type; null for an unknown name.
const CatalogueRow* findRow(std::string_view type);

// The kind of a catalogue or thorough-only type; Picture for an unknown name.
TypeKind kindOf(std::string_view type);

// Whether a scan shows files of this type as its live thumbnail.
bool takesThumbnail(std::string_view type);

// The types today's phones and cameras write, which only thorough detection
// recognises (by structure, never by a header rule), in kind order.
std::span<const CatalogueRow> thoroughOnlyRows();
bool isThoroughOnly(std::string_view type);

// The rows the type page and the CLI offer: the 41 catalogue rows, and for
// thorough detection the thorough-only rows too, each after the last catalogue
// row of its kind.
std::vector<CatalogueRow> offeredRows(bool thorough);

// The type's record as the rules define it (extName set, maxSizeBytes and
// foundCount 0); none for a name without rules (DIVX, or not in the catalogue).
std::optional<stExtInfo> templateFor(std::string_view name);

// The maker or form token a header of this type must also hold somewhere in its
// sector; empty for types without one. NRW has a token though no record.
std::string_view makerTokenFor(std::string_view name);

// A maximum size as the user typed it, in KB: its leading digits; a value below 2
// or above 250000 (or no digits at all) gives the default 2000 and sets corrected.
int32_t sizeKbFromText(std::string_view text, bool* corrected = nullptr);

// One ticked row of the type page: its type name and its size text.
struct SelectedType {
    std::string type;
    std::string sizeText;
};

// The scan's type list for the ticked rows: one record per type with rules, in
// offered-row order whatever order the rows come in, with maxSizeBytes = KB x 1024
// and foundCount 0. A size text that had to be corrected is rewritten to "2000".
// For the thorough scan (thorough = true), which recognises files by their
// structure, a type without rules (DIVX, the thorough-only types) gets a record
// too: its name and size.
TypeList buildSelection(std::span<SelectedType> rows, bool thorough = false);

}  // namespace kestrum
