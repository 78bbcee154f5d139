#include "imaging/PieceWriter.h"

#include <cstring>

#include "platform/Files.h"
#include "platform/PositionedFile.h"
#include "saving/TextFormat.h"

namespace kestrum {

PieceWriter::PieceWriter(ImageLayout layout, Options options)
    : layout_(std::move(layout)), options_(options) {
    if (options_.openMost == 0) options_.openMost = 1;
}

PieceWriter::~PieceWriter() = default;

std::string PieceWriter::failed(const char* what, uint64_t k, int error) const {
    return textf("Could not %s %s: %s", what, layout_.piecePath(k).c_str(), std::strerror(error));
}

bool PieceWriter::prepare(std::string& why) {
    for (uint64_t k = 0; k < layout_.pieceCount(); ++k) {
        platform::PositionedFile* f = file(k, why);
        if (!f) return false;
        int error = 0;
        if (f->size() != layout_.pieceBytes(k) && !f->resize(layout_.pieceBytes(k), &error)) {
            why = failed("write", k, error);
            return false;
        }
    }
    return true;
}

bool PieceWriter::write(uint64_t offset, const void* data, uint64_t size, std::string& why) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const PiecePlace place = layout_.placeOf(offset);
        const uint64_t part = std::min(size, place.room);
        platform::PositionedFile* f = file(place.piece, why);
        if (!f) return false;
        int error = 0;
        if (!f->writeAt(place.offset, bytes, part, &error)) {
            why = failed("write", place.piece, error);
            return false;
        }
        dirty_.insert(place.piece);
        last_ = layout_.piecePath(place.piece);
        offset += part;
        bytes += part;
        size -= part;
    }
    return true;
}

bool PieceWriter::syncOne(uint64_t k, platform::PositionedFile& f, std::string& why) {
    if (!dirty_.contains(k)) return true;
    int error = 0;
    if (!f.sync(&error)) {
        why = failed("write", k, error);
        return false;
    }
    dirty_.erase(k);
    return true;
}

bool PieceWriter::syncAll(std::string& why) {
    for (auto& [k, f] : open_)
        if (!syncOne(k, *f, why)) return false;
    return true;
}

bool PieceWriter::closeOne(uint64_t k, std::string& why) {
    const auto it = open_.find(k);
    if (it == open_.end()) return true;
    // Closed whatever happens: a piece that failed is not written again.
    std::unique_ptr<platform::PositionedFile> f = std::move(it->second);
    open_.erase(it);
    if (options_.durable && !syncOne(k, *f, why)) return false;
    int error = 0;
    if (!f->close(&error)) {
        why = failed("write", k, error);
        return false;
    }
    dirty_.erase(k);
    return true;
}

bool PieceWriter::closeAll(std::string& why) {
    bool ok = true;
    std::string first;
    while (!open_.empty())
        if (!closeOne(open_.begin()->first, why) && ok) ok = false, first = why;
    if (!ok) why = first;
    return ok;
}

platform::PositionedFile* PieceWriter::file(uint64_t k, std::string& why) {
    if (auto it = open_.find(k); it != open_.end()) return it->second.get();
    // A 2 TB image has thousands of pieces: only a few stay open.
    while (open_.size() >= options_.openMost)
        if (!closeOne(open_.begin()->first, why)) return nullptr;
    const bool fresh = options_.fresh && !opened_.contains(k);
    if (fresh && beforeCreate && !beforeCreate(k, why)) return nullptr;
    int error = 0;
    auto f = platform::PositionedFile::open(layout_.piecePath(k), fresh, &error);
    if (!f) {
        why = failed("create", k, error);
        return nullptr;
    }
    opened_.insert(k);
    return open_.emplace(k, std::move(f)).first->second.get();
}

bool removeLeftoverPieces(const ImageLayout& layout, uint64_t first,
                          const std::function<bool(const std::string&)>& mayRemove) {
    for (uint64_t k = first;; ++k) {
        const auto leftovers = layout.spellingsOf(k);
        if (leftovers.empty()) return true;
        for (const std::string& piece : leftovers)
            if ((mayRemove && !mayRemove(piece)) || !platform::removeEntry(piece)) return false;
    }
}

}  // namespace kestrum
