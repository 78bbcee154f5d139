// How an image sits in its folder: the one file "Image0.img", or 650 MiB pieces
// Image0.img, Image1.img, ... A piece is written with that spelling and found on
// reading without regard to case, since copies between file systems change it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

constexpr uint64_t kPieceSectors = 1331200;  // 650 MiB
constexpr uint64_t kPieceBytes = kPieceSectors * 512;
inline constexpr const char* kSingleImageName = "Image0.img";

// The pieces of an image found in a row from piece 0, whatever their case.
struct PiecesFound {
    std::vector<std::string> paths;
    uint64_t totalBytes = 0;
    int count() const { return static_cast<int>(paths.size()); }
};

// Where image byte n lies: in which piece, at what offset, and how many bytes of
// that piece follow it.
struct PiecePlace {
    uint64_t piece = 0;
    uint64_t offset = 0;
    uint64_t room = 0;
};

class ImageLayout {
public:
    // An image of imageBytes in folder, in pieces or as one file. A reader that
    // does not know the length gives 0.
    ImageLayout(std::string folder, bool inPieces, uint64_t imageBytes = 0);

    // "Image<k>.img", the name piece k is written under.
    static std::string pieceName(uint64_t k);
    // "image<k>.img": the spelling a piece is sought and reported missing under.
    static std::string soughtName(uint64_t k);
    // True for a file name the reader would take for a piece, in any case.
    static bool isPieceName(const std::string& name);
    // The pieces in folder, counted as the reader reads them.
    static PiecesFound countPieces(const std::string& folder);

    const std::string& folder() const { return folder_; }
    bool inPieces() const { return inPieces_; }
    uint64_t imageBytes() const { return imageBytes_; }

    // folder + pieceName(k).
    std::string piecePath(uint64_t k) const;
    // How many files an image of imageBytes is written as (at least one).
    uint64_t pieceCount() const;
    // The length of piece k when the image is whole.
    uint64_t pieceBytes(uint64_t k) const;
    PiecePlace placeOf(uint64_t byte) const;

    // Piece k as it is on disk, in any case; none when missing.
    std::optional<std::string> findPiece(uint64_t k) const;
    // Every spelling of piece k's name in folder.
    std::vector<std::string> spellingsOf(uint64_t k) const;

private:
    std::string folder_;
    bool inPieces_;
    uint64_t imageBytes_;
};

}  // namespace kestrum
