#include "imaging/ExistingImage.h"

namespace kestrum {

std::vector<std::string> piecesToReplace(const ImageLayout& image) {
    const uint64_t written = image.pieceCount();
    std::vector<std::string> pieces;
    for (uint64_t k = 0;; ++k) {
        const auto piece = image.findPiece(k);
        // The run deletes leftovers from the first piece it did not write up to a gap.
        if (!piece && (k >= written || !image.inPieces())) break;
        if (piece) pieces.push_back(*piece);
        if (!image.inPieces()) break;
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
