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

// Decodes a file or bytes in memory (PNG, JPEG, ...); throws std::runtime_error when it does not decode.
DecodedImage decodeImageFile(const std::wstring& path);
DecodedImage decodeImageBytes(const void* bytes, size_t size);
// Writes 24-bit BGR rows (top-down, no padding) as a PNG file; throws std::runtime_error on failure.
void writeBgrPng(const std::wstring& path, UINT width, UINT height, const std::vector<BYTE>& bgr);
