#include "preview/StillDecode.h"

#include <libheif/heif.h>
#include <libraw/libraw.h>

#include <cstring>
#include <memory>

namespace kestrum {
namespace {

bool isHeif(const uint8_t* data, size_t size) {
    return size >= 12 && heif_check_filetype(data, static_cast<int>(std::min<size_t>(size, 64))) ==
                             heif_filetype_yes_supported;
}

std::optional<DecodedStill> decodeHeif(const uint8_t* data, size_t size) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx(heif_context_alloc(),
                                                                    heif_context_free);
    if (!ctx || heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr).code !=
                    heif_error_Ok)
        return std::nullopt;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &handle).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> h(
        handle, heif_image_handle_release);
    heif_image* image = nullptr;
    if (heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                          nullptr)
            .code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image, decltype(&heif_image_release)> img(image, heif_image_release);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    DecodedStill out;
    out.width = heif_image_get_width(image, heif_channel_interleaved);
    out.height = heif_image_get_height(image, heif_channel_interleaved);
    if (!pixels || out.width <= 0 || out.height <= 0) return std::nullopt;
    const size_t row = static_cast<size_t>(out.width) * 4;
    out.rgba.resize(row * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y)
        std::memcpy(out.rgba.data() + row * static_cast<size_t>(y),
                    pixels + static_cast<ptrdiff_t>(stride) * y, row);
    return out;
}

std::optional<DecodedStill> decodeRaw(const uint8_t* data, size_t size) {
    std::unique_ptr<libraw_data_t, decltype(&libraw_close)> raw(libraw_init(0), libraw_close);
    if (raw)
        libraw_set_dataerror_handler(
            raw.get(), [](void*, const char*, int) {}, nullptr);
    if (!raw || libraw_open_buffer(raw.get(), const_cast<uint8_t*>(data), size) != LIBRAW_SUCCESS)
        return std::nullopt;
    DecodedStill out;
    // The preview the camera stored: a JPEG as it is, or a bitmap.
    if (libraw_unpack_thumb(raw.get()) == LIBRAW_SUCCESS) {
        int error = 0;
        libraw_processed_image_t* thumb = libraw_dcraw_make_mem_thumb(raw.get(), &error);
        if (thumb && thumb->type == LIBRAW_IMAGE_JPEG) {
            out.encoded.assign(thumb->data, thumb->data + thumb->data_size);
        } else if (thumb && thumb->type == LIBRAW_IMAGE_BITMAP && thumb->colors == 3 &&
                   thumb->bits == 8) {
            out.width = thumb->width;
            out.height = thumb->height;
            out.rgba.reserve(size_t{thumb->width} * thumb->height * 4);
            for (size_t i = 0; i + 2 < thumb->data_size; i += 3)
                out.rgba.insert(out.rgba.end(),
                                {thumb->data[i], thumb->data[i + 1], thumb->data[i + 2], 0xFF});
        }
        libraw_dcraw_clear_mem(thumb);
        if (!out.encoded.empty() || !out.rgba.empty()) return out;
    }
    // No preview stored: develop the sensor data, at half size for speed.
    raw->params.half_size = 1;
    if (libraw_unpack(raw.get()) != LIBRAW_SUCCESS || libraw_dcraw_process(raw.get()) != 0)
        return std::nullopt;
    int error = 0;
    libraw_processed_image_t* image = libraw_dcraw_make_mem_image(raw.get(), &error);
    if (!image || image->colors != 3 || image->bits != 8) {
        libraw_dcraw_clear_mem(image);
        return std::nullopt;
    }
    out.width = image->width;
    out.height = image->height;
    out.rgba.reserve(size_t{image->width} * image->height * 4);
    for (size_t i = 0; i + 2 < image->data_size; i += 3)
        out.rgba.insert(out.rgba.end(),
                        {image->data[i], image->data[i + 1], image->data[i + 2], 0xFF});
    libraw_dcraw_clear_mem(image);
    return out;
}

}  // namespace

std::optional<DecodedStill> decodeStill(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return std::nullopt;
    if (isHeif(data, size)) return decodeHeif(data, size);
    return decodeRaw(data, size);
}

}  // namespace kestrum
