#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fenwyr.h"
#include "jpeg_decoder.h"
#include "media_type.h"
#include "parallel_rows.h"

// Turns a device's frames into pictures: BGR24, BGRA32, RGB24, RGBA32 or GRAY8, top-down and
// packed. Pixel conversions by libyuv (BT.601 limited range for YUV sources); MJPG decoded by
// libjpeg-turbo into the JPEG's own planes and converted by libyuv with the JPEG's full-range
// matrix, a band at a time (grey: the luma alone). Other frames large enough are shared out in
// bands of rows to helper threads on the machine's other processors. One converter per device,
// used on its streaming thread only; it keeps its buffers from frame to frame, so converting
// allocates only when frames grow.
class FrameConverter {
public:
    FrameConverter() = default;
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // True for FENWYR_OUTPUT_BGR24 to FENWYR_OUTPUT_GRAY8 (not NATIVE).
    static bool isPicture(int32_t output);
    // How a frame described by `native` looks once converted to `output` (a picture output);
    // false for a picture whose size FrameInfo cannot hold (int32_t), which is never converted.
    static bool describe(const FrameInfo& native, int32_t output, FrameInfo& picture);

    // Writes the picture of one frame (`length` bytes laid out as `layout`) into `picture`, which
    // holds describe(...).length bytes. False, with `picture` in an unspecified state, for a frame
    // that cannot be converted: an unknown subtype, a short frame, a corrupt or truncated JPEG.
    bool convert(const media_type::FrameLayout& layout, const uint8_t* frame, size_t length, int32_t output,
                 uint8_t* picture);

    // Ends the threads that share large pictures, while no frame is being converted; they start
    // again with the next such picture.
    void stopHelpers() { rows_.stopHelpers(); }

private:
    bool decodeJpeg(const media_type::FrameLayout& layout, const uint8_t* frame, size_t length, int32_t output,
                    uint8_t* picture);
    // Picture rows [first, first + rows) of a checked frame (not MJPG) into `picture`, by way of
    // `bgra` (kBandRows rows) where needed; `first` is even.
    static bool convertBand(const media_type::FrameLayout& layout, const uint8_t* frame, int first, int rows,
                            int32_t output, uint8_t* picture, uint8_t* bgra);
    // Picture rows [first, first + rows) of the frame (already checked for length) as BGRA,
    // top-down, packed, into `bgra`; `first` is even.
    static bool toBgra(const media_type::FrameLayout& layout, const uint8_t* frame, int first, int rows, uint8_t* bgra);

    // A band of BGRA rows for each lane of rows_.
    std::vector<uint8_t> bgra_;
    JpegDecoder jpeg_;
    ParallelRows rows_;
};
