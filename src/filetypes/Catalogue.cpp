// The catalogue and its type rules as data. The rule table is written the way the
// rules are documented and parsed at compile time, so a row that does not parse
// does not build.
#include "filetypes/Catalogue.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace kestrum {
namespace {

// Previewed are the pictures Qt decodes (WebP by its plugin; HEIF, AVIF and the
// thorough-only raws decoded for it) and every sound and video type the player's
// back end plays. DV stays out: Qt's video frame conversion crashes on its frames.
// clang-format off
constexpr std::array<CatalogueRow, kCatalogueSize> kRows{{
    {"CR2", "Canon", TypeKind::Raw, Shown::No},
    {"CRW", "Canon", TypeKind::Raw, Shown::No},
    {"RAF", "Fuji", TypeKind::Raw, Shown::No},
    {"MRW", "Minolta", TypeKind::Raw, Shown::No},
    {"NEF", "Nikon", TypeKind::Raw, Shown::No},
    {"PEF", "Pentax", TypeKind::Raw, Shown::No},
    {"ORF", "Olympus", TypeKind::Raw, Shown::No},
    {"X3F", "Sigma", TypeKind::Raw, Shown::No},
    {"SR2", "Sony", TypeKind::Raw, Shown::No},
    {"ERF", "EPSON", TypeKind::Raw, Shown::No},
    {"DNG", "DNG Files", TypeKind::Raw, Shown::No},
    {"RAW", "Panasonic RAW", TypeKind::Raw, Shown::No},
    {"MEF", "Mamiya", TypeKind::Raw, Shown::No},
    {"DCR", "Kodak", TypeKind::Raw, Shown::No},
    {"WAV", "WAV Files", TypeKind::Audio, Shown::Previewed},
    {"MP3", "MP3 Audio Files", TypeKind::Audio, Shown::Previewed},
    {"WMA", "WMA Files", TypeKind::Audio, Shown::Previewed},
    {"MIDI", "MIDI Sound", TypeKind::Audio, Shown::Previewed},
    {"AIFF", "AIFF Files", TypeKind::Audio, Shown::Previewed},
    {"OGG", "OGG Files", TypeKind::Audio, Shown::Previewed},
    {"AU", "AU Files", TypeKind::Audio, Shown::Previewed},
    {"RM", "Real Media", TypeKind::Audio, Shown::Previewed},
    {"MOV", "Quick Time Movie", TypeKind::Video, Shown::Previewed},
    {"AVI", "Audio Video Interleave", TypeKind::Video, Shown::Previewed},
    {"MPEG", "MPEG Files", TypeKind::Video, Shown::Previewed},
    {"MP4", "MP4 File", TypeKind::Video, Shown::Previewed},
    {"VOB", "Video Object Files", TypeKind::Video, Shown::Previewed},
    {"3G2", "3G2 Files", TypeKind::Video, Shown::Previewed},
    {"MKV", "Matroska Video Files", TypeKind::Video, Shown::Previewed},
    {"DIVX", "DIVX Encoded Files", TypeKind::Video, Shown::Previewed},
    {"DV", "Digital Video", TypeKind::Video, Shown::No},
    {"ASF", "ASF Files", TypeKind::Video, Shown::Previewed},
    {"M4V", "M4V Files", TypeKind::Video, Shown::Previewed},
    {"BMP", "Bitmap Images", TypeKind::Picture, Shown::Thumbnailed},
    {"JPEG", "JPEG Images", TypeKind::Picture, Shown::Thumbnailed},
    {"PNG", "PNG Images", TypeKind::Picture, Shown::Thumbnailed},
    {"GIF", "GIF Images", TypeKind::Picture, Shown::Thumbnailed},
    {"TIFF", "TIFF Images", TypeKind::Picture, Shown::Thumbnailed},
    {"JP2", "JP2 Images", TypeKind::Picture, Shown::No},
    {"PSP", "Paint Shop Pro Images", TypeKind::Picture, Shown::No},
    {"PSD", "Adobe Photoshop", TypeKind::Picture, Shown::No},
}};

// One row per catalogue row, in the same order. Columns: type | header
// signatures, each "bytes @offset", separated by ";" | end markers, separated by
// ";" ("-" where a size field decides) | size field "offset, largest size in
// bytes" (4 bytes wide; byte order is the extent rule's business) | span limit in
// sectors. "00x16" is sixteen bytes 00. Every end marker may stand anywhere.
constexpr std::array<std::string_view, kCatalogueSize> kRuleTable{{
    "CR2  | 49 49 @0                                          | A5 A7 8A B8                              | -              | 51200",
    "CRW  | 4D 4D @0                                          | A5 A7 8A B8                              | -              | 51200",
    "RAF  | 46 55 4A 49 46 49 4C 4D @0                        | A6 01 A4 01 3C 01 CC 01                  | -              | 51200",  // "FUJIFILM"
    "MRW  | 00 4D 52 4D @0                                    | 05 1A 06 60                              | -              | 51200",
    "NEF  | 4D 4D 00 2A @0                                    | C7 93 7C 8E                              | -              | 51200",
    "PEF  | 4D 4D 00 2A @0                                    | 28 11 FF D9                              | -              | 51200",
    "ORF  | 49 49 52 4F @0                                    | 0E 10 15 D0 0C A0 13                     | -              | 51200",
    "X3F  | 46 4F 56 62 @0                                    | 54 9C 70 00                              | -              | 51200",  // "FOVb"
    "SR2  | 49 49 2A 00 @0                                    | 02 05 02 02 02 06 02 04                  | -              | 51200",
    "ERF  | 4D 4D 00 2A @0                                    | 8A 00 FF D9                              | -              | 51200",
    "DNG  | 49 49 2A 00 D6 4E 36 @0                           | 3C 3F 78 70 61 63 6B 65 74 20 65 6E 64   | -              | 51200",  // "<?xpacket end"
    "RAW  | 49 49 55 00 @0                                    | -                                        | 414, 26214400  | 51200",
    "MEF  | 4D 4D 00 2A @0                                    | 20 15 01 60 10 01 30 16                  | -              | 102400",
    "DCR  | 4D 4D 00 2A @0                                    | EB 08 5F 35                              | -              | 51200",
    "WAV  | 52 49 46 46 @0                                    | 49 43 52 44 0B 00 00 00                  | -              | 40960",  // "RIFF"
    "MP3  | 49 44 33 03 @0                                    | 4C 41 4D 45                              | -              | 20480",  // "ID3" 3, "LAME"
    "WMA  | 30 26 B2 75 8E 66 CF 11 @0                        | -                                        | 70, 10485760   | 20480",
    "MIDI | 4D 54 68 64 @0                                    | FF 2F 00 00                              | -              | 20480",  // "MThd"
    "AIFF | 46 4F 52 4D @0                                    | 41 50 50 4C                              | -              | 20480",  // "FORM", "APPL"
    "OGG  | 4F 67 67 53 00 02 @0                              | 4F 67 67 53 00 04                        | -              | 20480",
    "AU   | 2E 73 6E 64 @0                                    | -                                        | 8, 10485760    | 20480",  // ".snd"
    "RM   | 2E 52 4D 46 @0                                    | 49 4E 44 58                              | -              | 20480",  // ".RMF", "INDX"
    "MOV  | 08 77 69 64 65 @3                                 | 73 74 74 73                              | -              | 20480",  // "stts"
    "AVI  | 52 49 46 46 @0                                    | -                                        | 4, 104857600   | 51200",  // "RIFF"
    "MPEG | 01 B3 14 00 C8 11 @2; 01 BA 21 00 01 62 @2        | 00 00 01 B7; 00 00 01 B9                 | -              | 40960",
    "MP4  | 00 00 00 14 66 74 79 70 6D 70 34 @0               | 73 74 74 73                              | -              | 40960",
    "VOB  | 00 00 01 BA 44 00 04 00 04 01 @0                  | FF 00 00 01 B9                           | -              | 204800",
    "3G2  | 1C 66 74 79 70 33 67 32 @3                        | 73 74 73 73                              | -              | 20480",  // "stss"
    "MKV  | 1A 45 DF A3 93 42 82 88 @0                        | 4D 00 00 53                              | -              | 204800", // marker recaptured from each header
    "DIVX | no record",
    "DV   | 1F 07 00 3F F9 79 79 79 @0                        | 00x16                                    | -              | 40960",
    "ASF  | 30 26 B2 75 8E 66 CF 11 @0                        | -                                        | 70, 10485760   | 20480",
    "M4V  | 00 00 00 20 66 74 79 70 4D 34 56 20 @0            | C1 BA B1 FF 17 DE 07 A8                  | -              | 20480",
    "BMP  | 42 4D @0                                          | -                                        | 2, 10485760    | 20480",  // "BM"
    "JPEG | 4A 46 49 46 @6; FF D8 FF DB 00 43 00 @0; FF D8 FF E1 01 9A 45 78 @0 | FF D9                  | -              | 20480",  // "JFIF"
    "PNG  | 89 50 4E 47 @0                                    | 45 4E 44 AE 42 60 82                     | -              | 20480",
    "GIF  | 47 49 46 38 @0                                    | 00 3B 00                                 | -              | 20480",  // "GIF8"
    "TIFF | 49 49 2A 00 @0                                    | 00x16                                    | -              | 20480",
    "JP2  | 0C 6A 50 20 20 @3                                 | FF D9                                    | -              | 20480",
    "PSP  | 50 61 69 6E 74 20 53 68 6F 70 20 50 72 6F @0      | 7E 42 4B                                 | -              | 20480",  // "Paint Shop Pro", "~BK"
    "PSD  | 38 42 50 53 @0                                    | FF 00x15                                 | -              | 51200",  // "8BPS"
}};

// Each at the end of its kind's rows when offered.
constexpr std::array<CatalogueRow, 17> kThoroughOnly{{
    {"CR3", "Canon CR3", TypeKind::Raw, Shown::Previewed},
    {"ARW", "Sony ARW", TypeKind::Raw, Shown::Previewed},
    {"NRW", "Nikon NRW", TypeKind::Raw, Shown::Previewed},
    {"SRW", "Samsung SRW", TypeKind::Raw, Shown::Previewed},
    {"3FR", "Hasselblad 3FR", TypeKind::Raw, Shown::Previewed},
    {"IIQ", "Phase One IIQ", TypeKind::Raw, Shown::Previewed},
    {"FLAC", "FLAC Audio", TypeKind::Audio, Shown::Previewed},
    {"M4A", "M4A Audio (AAC, ALAC)", TypeKind::Audio, Shown::Previewed},
    {"AAC", "AAC Audio (ADTS)", TypeKind::Audio, Shown::Previewed},
    {"AMR", "AMR Speech", TypeKind::Audio, Shown::Previewed},
    {"MTS", "MPEG Transport Stream", TypeKind::Video, Shown::Previewed},
    {"3GP", "3GP Files", TypeKind::Video, Shown::Previewed},
    {"MXF", "MXF Files", TypeKind::Video, Shown::Previewed},
    {"HEIC", "HEIF Images (HEIC)", TypeKind::Picture, Shown::Previewed},
    {"AVIF", "AVIF Images", TypeKind::Picture, Shown::Previewed},
    {"WEBP", "WebP Images", TypeKind::Picture, Shown::Previewed},
    {"JXL", "JPEG XL Images", TypeKind::Picture, Shown::No},
}};

// The type page offers the kinds as groups in turn: each kind's catalogue rows
// stand together, the kinds in their declared order, and a thorough-only row
// joins a group the catalogue has.
static_assert([] {
    for (size_t i = 1; i < kRows.size(); ++i)
        if (kRows[i].kind < kRows[i - 1].kind) return false;
    for (const CatalogueRow& extra : kThoroughOnly)
        if (std::none_of(kRows.begin(), kRows.end(),
                         [&](const CatalogueRow& r) { return r.kind == extra.kind; }))
            return false;
    return true;
}());

struct MakerToken {
    std::string_view type;
    std::string_view token;
};

// Compared as bytes, case-sensitive. NRW never gets a record.
constexpr std::array<MakerToken, 11> kMakerTokens{{
    {"NEF", "NIKON"},
    {"NRW", "NIKON"},
    {"CR2", "Canon"},
    {"CRW", "Canon"},
    {"PEF", "PENTAX"},
    {"ERF", "EPSON"},
    {"MEF", "MAMIYA"},
    {"SR2", "SONY"},
    {"WAV", "WAVE"},
    {"AVI", "AVI LIST"},
    {"OGG", "Ogg"},
}};
// clang-format on

// ---- compile-time parsing of the rule table ----

struct Template {
    bool hasRecord = false;
    stExtInfo record{};
};

constexpr std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Splits s at the first sep: returns the part before, leaves the rest in s.
constexpr std::string_view takeField(std::string_view& s, char sep) {
    const size_t at = s.find(sep);
    const std::string_view field = s.substr(0, at);
    s = at == std::string_view::npos ? std::string_view{} : s.substr(at + 1);
    return trim(field);
}

consteval int32_t parseDecimal(std::string_view s) {
    if (s.empty()) throw "number expected";
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') throw "digit expected";
        v = v * 10 + (c - '0');
        if (v > std::numeric_limits<int32_t>::max()) throw "number too large";
    }
    return static_cast<int32_t>(v);
}

consteval int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw "hex digit expected";
}

// "4D 4D 00 2A", with "00x16" standing for sixteen bytes 00.
consteval SigEntry parsePattern(std::string_view s, int32_t offset) {
    SigEntry e;
    e.offset = offset;
    e.length = 0;
    while (!(s = trim(s)).empty()) {
        const std::string_view token = takeField(s, ' ');
        if (token.size() < 2) throw "byte expected";
        const uint8_t byte = static_cast<uint8_t>(hexDigit(token[0]) * 16 + hexDigit(token[1]));
        int32_t repeat = 1;
        if (token.size() > 2) {
            if (token[2] != 'x') throw "repeat count expected";
            repeat = parseDecimal(token.substr(3));
        }
        for (int32_t i = 0; i < repeat; ++i) {
            if (e.length == static_cast<int32_t>(e.bytes.size())) throw "pattern too long";
            e.bytes[static_cast<size_t>(e.length++)] = byte;
        }
    }
    if (e.length == 0) throw "empty pattern";
    return e;
}

consteval Template parseRule(std::string_view row) {
    Template t;
    const std::string_view name = takeField(row, '|');
    if (name.empty() || name.size() > 4) throw "type name of 1 to 4 characters expected";
    for (size_t i = 0; i < name.size(); ++i) t.record.extName[i] = name[i];
    if (trim(row) == "no record") return t;
    t.hasRecord = true;
    stExtInfo& r = t.record;

    std::string_view sigs = takeField(row, '|');
    while (!sigs.empty()) {
        std::string_view sig = takeField(sigs, ';');
        const size_t at = sig.find('@');
        if (at == std::string_view::npos) throw "signature offset expected";
        if (r.sigCount == static_cast<int32_t>(r.sigs.size())) throw "too many signatures";
        r.sigs[static_cast<size_t>(r.sigCount++)] =
            parsePattern(sig.substr(0, at), parseDecimal(trim(sig.substr(at + 1))));
    }
    if (r.sigCount == 0) throw "header signature expected";

    std::string_view ends = takeField(row, '|');
    const bool hasMarkers = ends != "-";
    if (!hasMarkers) {
        r.endCount = 1;  // present but not in use: the size field decides
    } else {
        while (!ends.empty()) {
            if (r.endCount == static_cast<int32_t>(r.ends.size())) throw "too many end markers";
            r.ends[static_cast<size_t>(r.endCount++)] = parsePattern(takeField(ends, ';'), -1);
        }
    }

    std::string_view size = takeField(row, '|');
    if (size != "-") {
        r.sizeFieldOffset = parseDecimal(takeField(size, ','));
        r.sizeFieldWidth = 4;
        r.sizeFieldMax = parseDecimal(trim(size));
        if (r.sizeFieldOffset + r.sizeFieldWidth > 512) throw "size field outside the sector";
        if (hasMarkers) throw "a size field replaces the end markers";
    } else if (!hasMarkers) {
        throw "end marker or size field expected";
    }

    r.spanLimit = parseDecimal(takeField(row, '|'));
    if (!trim(row).empty()) throw "extra column";
    return t;
}

consteval std::array<Template, kCatalogueSize> parseRuleTable() {
    std::array<Template, kCatalogueSize> out{};
    for (size_t i = 0; i < kCatalogueSize; ++i) {
        out[i] = parseRule(kRuleTable[i]);
        if (std::string_view(out[i].record.extName) != kRows[i].type)
            throw "rule table out of catalogue order";
    }
    return out;
}

constexpr std::array<Template, kCatalogueSize> kTemplates = parseRuleTable();

}  // namespace

std::span<const CatalogueRow, kCatalogueSize> catalogueRows() {
    return kRows;
}

const CatalogueRow* findRow(std::string_view type) {
    for (const std::span<const CatalogueRow> rows :
         {std::span<const CatalogueRow>(kRows), std::span<const CatalogueRow>(kThoroughOnly)})
        for (const CatalogueRow& row : rows)
            if (row.type == type) return &row;
    return nullptr;
}

TypeKind kindOf(std::string_view type) {
    const CatalogueRow* row = findRow(type);
    return row ? row->kind : TypeKind::Picture;
}

bool takesThumbnail(std::string_view type) {
    const CatalogueRow* row = findRow(type);
    return row != nullptr && row->shown == Shown::Thumbnailed;
}

std::span<const CatalogueRow> thoroughOnlyRows() {
    return kThoroughOnly;
}

bool isThoroughOnly(std::string_view type) {
    return std::any_of(kThoroughOnly.begin(), kThoroughOnly.end(),
                       [&](const CatalogueRow& r) { return r.type == type; });
}

std::vector<CatalogueRow> offeredRows(bool thorough) {
    std::vector<CatalogueRow> out;
    for (size_t i = 0; i < kRows.size(); ++i) {
        out.push_back(kRows[i]);
        const bool kindEnds = i + 1 == kRows.size() || kRows[i + 1].kind != kRows[i].kind;
        if (!thorough || !kindEnds) continue;
        for (const CatalogueRow& row : kThoroughOnly)
            if (row.kind == kRows[i].kind) out.push_back(row);
    }
    return out;
}

std::optional<stExtInfo> templateFor(std::string_view name) {
    for (const Template& t : kTemplates)
        if (t.hasRecord && name == t.record.extName) return t.record;
    return std::nullopt;
}

std::string_view makerTokenFor(std::string_view name) {
    for (const MakerToken& m : kMakerTokens)
        if (m.type == name) return m.token;
    return {};
}

int32_t sizeKbFromText(std::string_view text, bool* corrected) {
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        v = std::min<int64_t>(v * 10 + (c - '0'), int64_t{1} << 40);  // far above the limit
    }
    const bool bad = v < kMinSizeKb || v > kMaxSizeKb;
    if (corrected) *corrected = bad;
    return bad ? kDefaultSizeKb : static_cast<int32_t>(v);
}

TypeList buildSelection(std::span<SelectedType> rows, bool thorough) {
    const std::vector<CatalogueRow> offered = offeredRows(thorough);
    std::vector<const SelectedType*> byRow(offered.size(), nullptr);
    for (SelectedType& row : rows) {
        bool corrected = false;
        sizeKbFromText(row.sizeText, &corrected);
        if (corrected) row.sizeText = kDefaultSizeText;
        for (size_t i = 0; i < offered.size(); ++i)
            if (offered[i].type == row.type && byRow[i] == nullptr) byRow[i] = &row;
    }
    TypeList list;
    for (size_t i = 0; i < offered.size(); ++i) {
        if (byRow[i] == nullptr) continue;
        const std::optional<stExtInfo> rules = templateFor(offered[i].type);
        if (!rules && !thorough) continue;
        stExtInfo record{};  // DIVX and the thorough-only types: their name only
        if (rules) {
            record = *rules;
        } else {
            for (size_t k = 0; k < offered[i].type.size() && k < 4; ++k)
                record.extName[k] = offered[i].type[k];
        }
        record.maxSizeBytes = sizeKbFromText(byRow[i]->sizeText) * 1024;
        record.foundCount = 0;
        list.push_back(record);
    }
    return list;
}

}  // namespace kestrum
