// The size ceiling of thorough detection.
#include "carve/SizeCeiling.h"

#include "filetypes/Catalogue.h"

namespace kestrum::carve {

uint64_t sizeCeiling(std::string_view type, const stExtInfo* selected) {
    // A file's length comes from its own structure. A maximum size the user changed
    // from the default caps it (the file is then listed partial); the default
    // 2000 KB would cut most photos, so it gives way to a built-in ceiling that only
    // stops a runaway walk: 1 GiB for pictures and camera raws, 64 GiB for audio
    // and video, which in practice means the range's end.
    if (selected != nullptr && selected->maxSizeBytes > 0 &&
        selected->maxSizeBytes != kDefaultSizeKb * 1024)
        return static_cast<uint64_t>(selected->maxSizeBytes);
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    const TypeKind kind = kindOf(type);
    return kind == TypeKind::Audio || kind == TypeKind::Video ? 64 * kGiB : kGiB;
}

}  // namespace kestrum::carve
