#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// How a JPEG stores its colour: grey, or YCbCr with chroma halved across (4:2:2), across and
// down (4:2:0) or kept (4:4:4).
enum class JpegSampling { grey, yuv420, yuv422, yuv444 };

// Rows [first, first + rows) of a decoded picture: the luma plane and, for colour, the Cb and Cr
// planes at the JPEG's own chroma resolution (for 4:2:0, first is even and the chroma has
// (rows + 1) / 2 rows).
struct JpegBand {
    const uint8_t* planes[3];
    int strides[3];
    int first;
    int rows;
};

// Decodes MJPG frames with libjpeg, an iMCU row at a time, into the JPEG's own planes (no
// upsampling, no colour conversion), and hands each band on. A frame whose scan lost or garbled
// data fails as a whole: libjpeg's warnings for it (a marker or the end of the data inside the
// scan, data to resynchronise, a bad entropy code) count as errors. Bytes after the end-of-image
// marker are never read. One decoder per streaming thread; it keeps its buffers between frames.
class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    using BandSink = bool (*)(void* context, JpegSampling sampling, const JpegBand& band);
    // False for a frame that is not a baseline or progressive JPEG of exactly width x height in a
    // sampling above, a damaged one, or when `sink` returned false.
    bool decode(const uint8_t* jpeg, size_t length, int width, int height, BandSink sink, void* context);
    // The same frames' luma alone, straight into `picture` (rows `stride` bytes apart): the chroma
    // is read past but never transformed, upsampled or converted.
    bool decodeLuma(const uint8_t* jpeg, size_t length, int width, int height, uint8_t* picture, int stride);

private:
    // After the set-up of the jump back: reads the header and checks what `decode` accepts.
    bool readHeader(const uint8_t* jpeg, size_t length, int width, int height, JpegSampling& sampling);
    struct State;
    std::unique_ptr<State> state_;
};
