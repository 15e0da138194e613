#pragma once
#include <cstdint>
#include <vector>


// What the reference needs of a device's frame layout (the fields of fenwyr's FormatInfo, and
// the orientation getResolutions' height sign gives RGB capabilities).
struct ReferenceFormat {
    int width = 0;
    int height = 0;  // positive
    int bitCount = 0;
    int pixelFormat = 0;  // fenwyr's code: 3 RGB555, 4 RGB565, 5 RGB24, 6 RGB32
    uint32_t fourcc = 0;
    bool bottomUp = false;
};

// The tests' own reference for fenwyr's pictures: a device frame of layout `format`, `length`
// bytes, decoded to 24-bit BGR rows top-down the textbook way, one pixel at a time (BT.601 limited range
// for YUV, full-range grey for Y800, WIC for MJPG). Empty for a layout it does not know: RGB24,
// RGB32, RGB555, RGB565, YUY2, UYVY, NV12, I420, YV12, Y800 and MJPG are known.
std::vector<uint8_t> referenceBgr(const ReferenceFormat& format, const uint8_t* frame, size_t length);
