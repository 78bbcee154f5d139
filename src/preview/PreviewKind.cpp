#include "preview/PreviewKind.h"

#include <array>

namespace kestrum {
namespace {

struct Previewable {
    std::string_view type;
    PreviewKind kind;
};

// In the order they are tried; every type's whole name is its compared prefix.
constexpr std::array<Previewable, 11> kPreviewable{{
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
