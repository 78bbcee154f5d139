#include "disk/ImageLayout.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>

#include "platform/Files.h"
#include "platform/Folders.h"

namespace kestrum {

ImageLayout::ImageLayout(std::string folder, bool inPieces, uint64_t imageBytes)
    : folder_(std::move(folder)), inPieces_(inPieces), imageBytes_(imageBytes) {}

std::string ImageLayout::pieceName(uint64_t k) {
    return "Image" + std::to_string(k) + ".img";
}

std::string ImageLayout::soughtName(uint64_t k) {
    return "image" + std::to_string(k) + ".img";
}

bool ImageLayout::isPieceName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.size() > 9 && lower.starts_with("image") && lower.ends_with(".img") &&
           lower.find_first_not_of("0123456789", 5) == lower.size() - 4;
}

PiecesFound ImageLayout::countPieces(const std::string& folder) {
    PiecesFound found;
    for (uint64_t k = 0;; ++k) {
        const auto piece = platform::findFileNoCase(folder, pieceName(k));
        if (!piece) break;
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(*piece, ec);
        if (!ec) found.totalBytes += bytes;
        found.paths.push_back(*piece);
    }
    return found;
}

std::string ImageLayout::piecePath(uint64_t k) const {
    return platform::joinPath(folder_, pieceName(k));
}

uint64_t ImageLayout::pieceCount() const {
    if (!inPieces_) return 1;
    return std::max<uint64_t>(1, (imageBytes_ + kPieceBytes - 1) / kPieceBytes);
}

uint64_t ImageLayout::pieceBytes(uint64_t k) const {
    if (!inPieces_) return imageBytes_;
    if (k * kPieceBytes >= imageBytes_) return 0;
    return std::min(kPieceBytes, imageBytes_ - k * kPieceBytes);
}

PiecePlace ImageLayout::placeOf(uint64_t byte) const {
    if (!inPieces_) return {0, byte, std::numeric_limits<uint64_t>::max() - byte};
    const uint64_t offset = byte % kPieceBytes;
    return {byte / kPieceBytes, offset, kPieceBytes - offset};
}

std::optional<std::string> ImageLayout::findPiece(uint64_t k) const {
    return platform::findFileNoCase(folder_, pieceName(k));
}

std::vector<std::string> ImageLayout::spellingsOf(uint64_t k) const {
    return platform::findAllNoCase(folder_, pieceName(k));
}

}  // namespace kestrum
