#include "preview/PreviewKind.h"

#include <array>

namespace kestrum {
namespace {

struct Previewable {
    std::string_view type;
    PreviewKind kind;
};

// The pictures Qt decodes (WebP by its plugin; HEIF, AVIF and raws decoded for
// it), then every sound and video type the player's back end plays. DV stays out:
// Qt's video frame conversion crashes on its frames.
constexpr Previewable kPreviewable[] = {
    {"JPEG", PreviewKind::Picture}, {"BMP", PreviewKind::Picture},  {"GIF", PreviewKind::Picture},
    {"PNG", PreviewKind::Picture},  {"TIFF", PreviewKind::Picture}, {"WEBP", PreviewKind::Picture},
    {"HEIC", PreviewKind::Picture}, {"AVIF", PreviewKind::Picture}, {"CR3", PreviewKind::Picture},
    {"ARW", PreviewKind::Picture},  {"NRW", PreviewKind::Picture},  {"SRW", PreviewKind::Picture},
    {"3FR", PreviewKind::Picture},  {"IIQ", PreviewKind::Picture},  {"MPEG", PreviewKind::Media},
    {"WAV", PreviewKind::Media},    {"AVI", PreviewKind::Media},    {"MP3", PreviewKind::Media},
    {"MIDI", PreviewKind::Media},   {"WMA", PreviewKind::Media},    {"MP4", PreviewKind::Media},
    {"MOV", PreviewKind::Media},    {"3G2", PreviewKind::Media},    {"3GP", PreviewKind::Media},
    {"M4V", PreviewKind::Media},    {"M4A", PreviewKind::Media},    {"OGG", PreviewKind::Media},
    {"AIFF", PreviewKind::Media},   {"AU", PreviewKind::Media},     {"MKV", PreviewKind::Media},
    {"VOB", PreviewKind::Media},    {"ASF", PreviewKind::Media},    {"DIVX", PreviewKind::Media},
    {"RM", PreviewKind::Media},     {"FLAC", PreviewKind::Media},   {"MTS", PreviewKind::Media},
    {"AAC", PreviewKind::Media},    {"AMR", PreviewKind::Media},    {"MXF", PreviewKind::Media},
};

// The type a tree label names: "TIFF (3)" names TIFF, "MP4X (1)" does not name MP4.
bool namesType(std::string_view label, std::string_view type) {
    return label.substr(0, type.size()) == type &&
           (label.size() == type.size() || label[type.size()] == ' ');
}

}  // namespace

PreviewType previewTypeFor(std::string_view treeLabel) {
    for (const Previewable& p : kPreviewable)
        if (namesType(treeLabel, p.type)) return {p.kind, std::string(p.type)};
    return {PreviewKind::None, std::string(treeLabel)};
}

bool isMediaLabel(std::string_view treeLabel) {
    return previewTypeFor(treeLabel).kind == PreviewKind::Media;
}

}  // namespace kestrum
