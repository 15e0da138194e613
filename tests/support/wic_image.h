#pragma once
#include <windows.h>

#include <string>
#include <vector>

// An image file as WIC decodes it.
struct DecodedImage {
    UINT width = 0;
    UINT height = 0;
    GUID pixelFormat{};          // as stored in the file
    std::vector<BYTE> bgr;       // converted to 24-bit BGR, rows top-down, no padding
};

// One pixel of a decoded image, and whether it is within `tolerance` of another in every channel.
struct Rgb {
    int r, g, b;
};
Rgb pixel(const DecodedImage& image, UINT x, UINT y);
bool similar(Rgb got, Rgb want, int tolerance);

// Decodes a file or bytes in memory (PNG, JPEG, ...); throws std::runtime_error when it does not decode.
DecodedImage decodeImageFile(const std::wstring& path);
DecodedImage decodeImageBytes(const void* bytes, size_t size);
// Writes 24-bit BGR rows (top-down, no padding) as a PNG file; throws std::runtime_error on failure.
void writeBgrPng(const std::wstring& path, UINT width, UINT height, const std::vector<BYTE>& bgr);
