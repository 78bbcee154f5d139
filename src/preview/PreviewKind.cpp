#include "preview/PreviewKind.h"

#include "filetypes/Catalogue.h"

namespace kestrum {

PreviewType previewTypeFor(std::string_view treeLabel) {
    // "TIFF (3)" names TIFF; "MP4X (1)" names no type.
    const std::string_view type = treeLabel.substr(0, treeLabel.find(' '));
    const CatalogueRow* row = findRow(type);
    if (row == nullptr || row->shown == Shown::No)
        return {PreviewKind::None, std::string(treeLabel)};
    const bool played = row->kind == TypeKind::Audio || row->kind == TypeKind::Video;
    return {played ? PreviewKind::Media : PreviewKind::Picture, std::string(type)};
}

bool isMediaLabel(std::string_view treeLabel) {
    return previewTypeFor(treeLabel).kind == PreviewKind::Media;
}

}  // namespace kestrum
