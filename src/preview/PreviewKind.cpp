#include "preview/PreviewKind.h"

#include <array>

namespace kestrum {
namespace {

struct Previewable {
    std::string_view type;
    PreviewKind kind;
};

// In the order they are tried; every type's whole name is its compared prefix.
constexpr std::array<Previewable, 27> kPreviewable{{
    {"JPEG", PreviewKind::Picture},
    {"BMP", PreviewKind::Picture},
    {"GIF", PreviewKind::Picture},
    {"PNG", PreviewKind::Picture},
    {"TIFF", PreviewKind::Picture},
    {"MPEG", PreviewKind::Media},
    {"WAV", PreviewKind::Media},
    {"AVI", PreviewKind::Media},
    {"MP3", PreviewKind::Media},
    {"MIDI", PreviewKind::Media},
    {"WMA", PreviewKind::Media},
    // Thorough-only types: WebP by Qt's plugin, HEIF, AVIF and raws decoded for it.
    {"WEBP", PreviewKind::Picture},
    {"HEIC", PreviewKind::Picture},
    {"AVIF", PreviewKind::Picture},
    {"CR3", PreviewKind::Picture},
    {"ARW", PreviewKind::Picture},
    {"NRW", PreviewKind::Picture},
    {"SRW", PreviewKind::Picture},
    {"3FR", PreviewKind::Picture},
    {"IIQ", PreviewKind::Picture},
    {"FLAC", PreviewKind::Media},
    {"M4A", PreviewKind::Media},
    {"AAC", PreviewKind::Media},
    {"AMR", PreviewKind::Media},
    {"MTS", PreviewKind::Media},
    {"3GP", PreviewKind::Media},
    {"MXF", PreviewKind::Media},
}};

}  // namespace

PreviewType previewTypeFor(std::string_view treeLabel) {
    for (const Previewable& p : kPreviewable)
        if (treeLabel.substr(0, p.type.size()) == p.type) return {p.kind, std::string(p.type)};
    return {PreviewKind::None, std::string(treeLabel)};
}

bool isMediaLabel(std::string_view treeLabel) {
    return previewTypeFor(treeLabel).kind == PreviewKind::Media;
}

}  // namespace kestrum
