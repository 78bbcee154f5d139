#include "imaging/ExistingImage.h"

#include <algorithm>

#include "disk/SectorReader.h"
#include "platform/Files.h"
#include "platform/Folders.h"

namespace kestrum {

std::vector<std::string> existingImagePieces(const std::string& folder, bool multiFile,
                                             uint64_t sectors) {
    const uint64_t written =
        multiFile ? std::max<uint64_t>(1, (sectors + kPieceSectors - 1) / kPieceSectors) : 1;
    std::vector<std::string> pieces;
    for (uint64_t k = 0;; ++k) {
        const auto piece = platform::findFileNoCase(folder, "Image" + std::to_string(k) + ".img");
        // The run deletes leftovers from the first piece it did not write up to a gap.
        if (!piece && (k >= written || !multiFile)) break;
        if (piece) pieces.push_back(*piece);
        if (!multiFile) break;
    }
    return pieces;
}

std::string replaceImageQuestion(const std::vector<std::string>& pieces) {
    std::string text = pieces.size() == 1 ? "The image file " + pieces.front() + " already exists."
                                          : "The folder already holds an image of " +
                                                std::to_string(pieces.size()) + " files (" +
                                                pieces.front() + " ...).";
    return text + " Do you want to replace it?";
}

}  // namespace kestrum
