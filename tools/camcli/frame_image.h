#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fenwyr.h"

// A frame turned into an upright 24-bit BGR picture, ready for a PNG file.
struct BgrImage {
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> pixels;  // rows top-down, 3 bytes a pixel, no padding
};

// Converts one frame in the given format. Throws std::runtime_error when the
// format is not one camcli can draw or the frame is too short for it.
BgrImage frameToImage(const ResolutionInfo& format, const std::vector<uint8_t>& frame);

// The frame's sequence number, as the virtual capture device stamps it (bytes 0-3, or
// the JPEG comment segment for MJPG); false when the frame carries none.
bool frameSequence(const ResolutionInfo& format, const std::vector<uint8_t>& frame, uint32_t& sequence);
