#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "fenwyr.h"

// A picture fenwyr converted (FrameInfo.pixelFormat 5 BGR24, 6 BGRA32, RGB, RGBA or GRAY8) as
// pixels a PNG encoder takes (BGR, BGRA or grey; RGB ones have red and blue swapped) and their
// WIC format; false for a frame in the device's own encoding.
bool pngPixels(const FrameInfo& info, const std::vector<uint8_t>& picture, std::vector<uint8_t>& pixels,
               GUID& format);

// The frame's sequence number as the virtual capture device stamps it into its own bytes (bytes
// 0-3, or the JPEG comment segment for MJPG); false when the frame carries none.
bool frameSequence(const FrameInfo& info, const std::vector<uint8_t>& frame, uint32_t& sequence);
