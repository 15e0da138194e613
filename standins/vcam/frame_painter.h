#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "video_format.h"

// What a device's switches change in its picture (see the README).
struct PaintOptions {
    bool greyRamp = false;  // GreyRamp: only a grey ramp, 0 at the left edge to 255 at the right
    bool xByteZero = false;  // XByteZero: RGB32's fourth byte is 0, not 0xFF
};

// One pixel of the picture, in the byte order of a 24-bit DIB (and of WIC's 24bppBGR).
struct Bgr {
    uint8_t b, g, r;
};

// The picture the device shows: colour bars over a grey ramp, and a box that moves a few
// pixels each frame, so a person sees at once that frames are live.
class TestPicture {
public:
    TestPicture(int width, int rows, const PaintOptions& options = {});

    int width() const { return width_; }
    int rows() const { return rows_; }
    // Rows [top, bottom) that frame `frame` paints differently from the background.
    void boxRows(uint32_t frame, int* top, int* bottom) const;
    // Paints rows [first, first + count) of frame `frame` into `out` (count * width pixels).
    void paintRows(uint32_t frame, int first, int count, Bgr* out) const;
    // The still background, row by row, top first.
    const std::vector<Bgr>& background() const { return background_; }

private:
    struct Box {
        int left, top, size;
    };
    Box boxAt(uint32_t frame) const;

    int width_;
    int rows_;
    bool boxed_;
    std::vector<Bgr> background_;
};

// Writes picture rows [first, first + count) into a frame of the given uncompressed layout,
// honouring its row order (bottom-up RGB unless the height is negative), padding and palette.
// For NV12, `first` is even and count is even unless the band reaches the last row.
// RGB32's fourth byte is `xByte`.
void writePictureRows(const FrameGeometry& geometry, const Bgr* rows, int first, int count, BYTE* frame,
                      BYTE xByte = 0xFF);
