// A JPEG decoded by libjpeg-turbo through a ByteReader. Any warning (corrupt
// data, a premature end, extraneous bytes before the end marker) stops the
// decode: a picture that only decodes with the library's patching-up is not
// clean. The output is scaled to 1/8, which skips most of the inverse transform
// but still decodes every coefficient of every MCU.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "carve/Join.h"

namespace kestrum::carve {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr long kMaxMemory = 512L << 20;  // coefficients of a large progressive picture

struct Failure {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct Source {
    jpeg_source_mgr pub;
    ByteReader* reader;
    uint64_t pos;  // the next byte to fetch
    std::vector<uint8_t> buffer;
    uint64_t seamAt;  // reads stop here once, to note the row being decoded
    long seamRow;
};

[[noreturn]] void fail(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Failure*>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0) fail(cinfo);  // a warning; trace messages are ignored
}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fill(j_decompress_ptr cinfo) {
    auto* s = reinterpret_cast<Source*>(cinfo->src);
    size_t want = s->buffer.size();
    if (s->pos < s->seamAt)
        want = static_cast<size_t>(std::min<uint64_t>(want, s->seamAt - s->pos));
    if (s->pos == s->seamAt && s->seamRow < 0) s->seamRow = cinfo->output_scanline;
    const size_t got = s->reader->read(s->pos, s->buffer.data(), want);
    if (got == 0) fail(reinterpret_cast<j_common_ptr>(cinfo));  // ran out before the end
    s->pos += got;
    s->pub.next_input_byte = s->buffer.data();
    s->pub.bytes_in_buffer = got;
    return TRUE;
}

void skip(j_decompress_ptr cinfo, long n) {
    auto* s = reinterpret_cast<Source*>(cinfo->src);
    if (n <= 0) return;
    if (static_cast<size_t>(n) <= s->pub.bytes_in_buffer) {
        s->pub.next_input_byte += n;
        s->pub.bytes_in_buffer -= static_cast<size_t>(n);
        return;
    }
    s->pos += static_cast<uint64_t>(n) - s->pub.bytes_in_buffer;
    s->pub.bytes_in_buffer = 0;
}

uint64_t taken(const Source& s) {
    return s.pos - s.pub.bytes_in_buffer;
}

// What libjpeg-turbo cannot decode says nothing about the data: lossless and
// JPEG-LS frames, 12-bit samples, a picture too large for the memory bound.
bool unsupported(int code) {
    return code == JERR_BAD_PRECISION || code == JERR_NOTIMPL || code == JERR_NOT_COMPILED ||
           code == JERR_SOF_UNSUPPORTED || code == JERR_ARITH_NOTIMPL ||
           code == JERR_CCIR601_NOTIMPL || code == JERR_OUT_OF_MEMORY ||
           code == JERR_NO_BACKING_STORE || code == JERR_IMAGE_TOO_BIG ||
           code == JERR_WIDTH_OVERFLOW;
}

struct State {
    jpeg_decompress_struct cinfo{};
    Failure failure{};
    Source source{};
    std::vector<uint8_t> picture;  // the first output component, one row after another
    std::vector<uint8_t> row;
};

// Mean difference of two output rows.
double rowDifference(const uint8_t* a, const uint8_t* b, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
    return n ? double(sum) / double(n) : 0.0;
}

// Whether the rows across a seam differ little more than rows as far apart do
// above it, in the first piece. Data from another picture carries on with this
// one's DC predictors and lands at another place in its rows: the seam shows.
bool seamFits(const std::vector<uint8_t>& p, size_t width, size_t height, long seamRow,
              int mcuRows) {
    const size_t gap = static_cast<size_t>(mcuRows) + 1;
    if (width == 0 || seamRow < static_cast<long>(gap + 2)) return true;  // too little to judge
    const size_t above = static_cast<size_t>(seamRow) - 1, below = above + gap;
    if (below >= height) return true;
    double worst = 0;
    for (size_t r = 0; r + gap < above; ++r)
        worst = std::max(worst, rowDifference(&p[r * width], &p[(r + gap) * width], width));
    const double seam = rowDifference(&p[above * width], &p[below * width], width);
    return seam <= 1.5 * worst + 2.0;
}

}  // namespace

JpegDecode decodeJpeg(ByteReader& file, uint64_t seamAt) {
    // On the heap: a longjmp may not restore locals changed after setjmp.
    const auto state = std::make_unique<State>();
    jpeg_decompress_struct& cinfo = state->cinfo;
    Source& source = state->source;
    source.reader = &file;
    source.buffer.resize(kChunk);
    source.seamAt = seamAt ? seamAt : UINT64_MAX;
    source.seamRow = -1;
    cinfo.err = jpeg_std_error(&state->failure.pub);
    state->failure.pub.error_exit = fail;
    state->failure.pub.emit_message = onMessage;
    if (setjmp(state->failure.jump)) {
        JpegDecode bad;
        bad.troubleAt = taken(source);
        bad.supported = !unsupported(state->failure.pub.msg_code);
        bad.progressive = cinfo.progressive_mode;
        jpeg_destroy_decompress(&cinfo);
        return bad;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxMemory;
    source.pub.init_source = initSource;
    source.pub.fill_input_buffer = fill;
    source.pub.skip_input_data = skip;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = termSource;
    cinfo.src = &source.pub;
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        fail(reinterpret_cast<j_common_ptr>(&cinfo));
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    if (cinfo.jpeg_color_space == JCS_YCbCr) cinfo.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&cinfo);
    const size_t width = cinfo.output_width, stride = width * cinfo.output_components;
    std::vector<uint8_t>& row = state->row;  // a longjmp skips locals' destructors
    row.resize(stride);
    JSAMPROW rows[1] = {row.data()};
    // A progressive picture is read whole before any row comes out: its seam
    // row is unknown and only the decode judges it. Otherwise the seam is judged
    // as soon as the rows below it are out, so a wrong piece costs little more
    // than the first one.
    const int mcuRows = cinfo.max_v_samp_factor;
    bool seamJudged = cinfo.progressive_mode;
    while (cinfo.output_scanline < cinfo.output_height) {
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (size_t x = 0; x < width; ++x)
            state->picture.push_back(row[x * cinfo.output_components]);
        const long seam = source.seamRow;
        if (!seamJudged && seam >= 0 && cinfo.output_scanline > seam + mcuRows) {
            seamJudged = true;
            if (!seamFits(state->picture, width, cinfo.output_scanline, seam, mcuRows))
                fail(reinterpret_cast<j_common_ptr>(&cinfo));
        }
    }
    jpeg_finish_decompress(&cinfo);
    JpegDecode good;
    good.clean = true;
    good.progressive = cinfo.progressive_mode;
    good.end = taken(source);
    jpeg_destroy_decompress(&cinfo);
    return good;
}

}  // namespace kestrum::carve
