#include "jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// libjpeg's error manager, with the jump back out of the library: libjpeg is C, so an error
// leaves it by longjmp (only libjpeg's frames and decode's, which holds no objects, are skipped).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf failed;
};

void fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->failed, 1);
}

// Warnings that mean the picture is not what the camera sent: bytes lost or garbled in the scan.
// Others (stray bytes before a marker, an unknown JFIF revision) leave the picture whole.
void judge(j_common_ptr info, int level) {
    if (level >= 0)
        return;  // trace messages
    switch (info->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE: fail(info); break;
    default: ++info->err->num_warnings; break;
    }
}

void silent(j_common_ptr) {}

bool samplingOf(const jpeg_decompress_struct& info, JpegSampling& sampling) {
    if (info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE) {
        sampling = JpegSampling::grey;
        return true;
    }
    if (info.num_components != 3 || info.jpeg_color_space != JCS_YCbCr)
        return false;
    const jpeg_component_info* c = info.comp_info;
    if (c[1].h_samp_factor != 1 || c[1].v_samp_factor != 1 || c[2].h_samp_factor != 1 || c[2].v_samp_factor != 1)
        return false;
    if (c[0].h_samp_factor == 2 && c[0].v_samp_factor == 2)
        sampling = JpegSampling::yuv420;
    else if (c[0].h_samp_factor == 2 && c[0].v_samp_factor == 1)
        sampling = JpegSampling::yuv422;
    else if (c[0].h_samp_factor == 1 && c[0].v_samp_factor == 1)
        sampling = JpegSampling::yuv444;
    else
        return false;
    return true;
}

}  // namespace

struct JpegDecoder::State {
    jpeg_decompress_struct info;
    ErrorManager errors;
    // One iMCU row of each component, and libjpeg's row pointers into it.
    std::vector<uint8_t> planes[3];
    std::vector<JSAMPROW> rows[3];

    // Starts decoding into the JPEG's own planes, with the fast integer transform (within a level
    // or two of the exact one at webcam qualities, and as fast as libyuv's MJPG path was at
    // 1080p); `image` points at the rows of one iMCU row of each component.
    void startRaw(JSAMPARRAY image[3]) {
        info.raw_data_out = TRUE;
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
        info.do_block_smoothing = FALSE;
        jpeg_start_decompress(&info);
        for (int k = 0; k < info.num_components; ++k) {
            const jpeg_component_info& component = info.comp_info[k];
            const int stride = static_cast<int>(component.width_in_blocks) * DCTSIZE;
            const int count = component.v_samp_factor * DCTSIZE;
            planes[k].resize(static_cast<size_t>(stride) * count);
            rows[k].resize(static_cast<size_t>(count));
            for (int r = 0; r < count; ++r)
                rows[k][static_cast<size_t>(r)] = planes[k].data() + static_cast<size_t>(r) * stride;
            image[k] = rows[k].data();
        }
    }
};

JpegDecoder::JpegDecoder() : state_(new State) {
    State& s = *state_;
    s.info.err = jpeg_std_error(&s.errors.base);
    s.errors.base.error_exit = fail;
    s.errors.base.emit_message = judge;
    s.errors.base.output_message = silent;
    jpeg_create_decompress(&s.info);
}

JpegDecoder::~JpegDecoder() {
    jpeg_destroy_decompress(&state_->info);
}

bool JpegDecoder::readHeader(const uint8_t* jpeg, size_t length, int width, int height, JpegSampling& sampling) {
    jpeg_decompress_struct* info = &state_->info;
    state_->errors.base.num_warnings = 0;
    jpeg_mem_src(info, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(info, TRUE);
    // A frame of another size than the connection's would not fit the picture.
    if (info->image_width != static_cast<JDIMENSION>(width) || info->image_height != static_cast<JDIMENSION>(height) ||
        !samplingOf(*info, sampling)) {
        jpeg_abort_decompress(info);
        return false;
    }
    return true;
}

bool JpegDecoder::decodeLuma(const uint8_t* jpeg, size_t length, int width, int height, uint8_t* picture,
                             int stride) {
    State& s = *state_;
    jpeg_decompress_struct* info = &s.info;
    if (!jpeg || !picture || length == 0 || length > 0x7FFFFFFF || width <= 0 || height <= 0 || stride < width)
        return false;
    // As in decode: nothing below needs destroying.
    if (setjmp(s.errors.failed)) {
        jpeg_abort_decompress(info);
        return false;
    }
    JpegSampling sampling = JpegSampling::grey;
    if (!readHeader(jpeg, length, width, height, sampling))
        return false;
    // The luma plane straight from the transform into the picture: Cb and Cr marked as not
    // needed (as libjpeg's own grey output does), so their coefficients are read past and never
    // transformed.
    for (int k = 1; k < info->num_components; ++k)
        info->comp_info[k].component_needed = FALSE;
    JSAMPARRAY image[3] = {nullptr, nullptr, nullptr};
    s.startRaw(image);
    // The transform writes whole blocks: rows past the picture's last go to a band of its own,
    // and so does every row when whole blocks would not fit in one.
    const int bandRows = info->max_v_samp_factor * DCTSIZE;
    const bool inPlace = stride >= static_cast<int>(info->comp_info[0].width_in_blocks) * DCTSIZE;
    JSAMPROW band[4 * DCTSIZE];
    image[0] = band;
    for (int first = 0; first < height; first += bandRows) {
        const int rows = height - first < bandRows ? height - first : bandRows;
        for (int r = 0; r < bandRows; ++r)
            band[r] = inPlace && r < rows ? picture + static_cast<size_t>(first + r) * static_cast<size_t>(stride)
                                          : s.rows[0][static_cast<size_t>(r)];
        if (jpeg_read_raw_data(info, image, static_cast<JDIMENSION>(bandRows)) != static_cast<JDIMENSION>(bandRows)) {
            jpeg_abort_decompress(info);
            return false;
        }
        if (!inPlace)
            for (int r = 0; r < rows; ++r)
                std::memcpy(picture + static_cast<size_t>(first + r) * static_cast<size_t>(stride), band[r],
                            static_cast<size_t>(width));
    }
    // As in decode: a scan cut short fails here too.
    jpeg_finish_decompress(info);
    return true;
}

bool JpegDecoder::decode(const uint8_t* jpeg, size_t length, int width, int height, BandSink sink, void* context) {
    State& s = *state_;
    jpeg_decompress_struct* info = &s.info;
    if (!jpeg || length == 0 || length > 0x7FFFFFFF || width <= 0 || height <= 0)
        return false;
    // Nothing below holds an object that needs destroying: longjmp may skip these frames.
    if (setjmp(s.errors.failed)) {
        jpeg_abort_decompress(info);
        return false;
    }
    JpegSampling sampling = JpegSampling::grey;
    if (!readHeader(jpeg, length, width, height, sampling))
        return false;
    JSAMPARRAY image[3] = {nullptr, nullptr, nullptr};
    s.startRaw(image);
    const int bandRows = info->max_v_samp_factor * DCTSIZE;
    JpegBand band{};
    for (int k = 0; k < info->num_components; ++k) {
        band.planes[k] = s.planes[k].data();
        band.strides[k] = static_cast<int>(info->comp_info[k].width_in_blocks) * DCTSIZE;
    }
    for (int first = 0; first < height; first += bandRows) {
        if (jpeg_read_raw_data(info, image, static_cast<JDIMENSION>(bandRows)) != static_cast<JDIMENSION>(bandRows)) {
            jpeg_abort_decompress(info);
            return false;
        }
        band.first = first;
        band.rows = height - first < bandRows ? height - first : bandRows;
        if (!sink(context, sampling, band)) {
            jpeg_abort_decompress(info);
            return false;
        }
    }
    // Reads on to the end-of-image marker: a scan cut short fails here too.
    jpeg_finish_decompress(info);
    return true;
}
