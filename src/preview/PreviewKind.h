// Which road a preview takes: a picture for the picture control, media for the
// player, or none (a placeholder). Decided from the type tree's label by the
// catalogue row of the type it names.
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

enum class PreviewKind { None, Picture, Media };

struct PreviewType {
    PreviewKind kind = PreviewKind::None;
    std::string type;  // the bare type name; the label itself when none matched
};

// The previewable type the label names: "TIFF (3)" is the picture type TIFF.
PreviewType previewTypeFor(std::string_view treeLabel);

// A media type's list puts the player into its full mode when it is filled.
bool isMediaLabel(std::string_view treeLabel);

}  // namespace kestrum
